#include "runtime/core/textservices.h"

#include <cmath>
#include <cstring>

namespace pennaro {

namespace {

constexpr unsigned char kFullWidthBlankByte = 0xA1;

bool isLeadByte(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares bytes one by one; letters of the other case are equal only when asked to, and only
// ASCII letters, also where such a byte is the trail byte of a two-byte character.
bool matchesAt(const char* at, QByteArrayView sought, bool ignoreCase) {
    const qsizetype n = sought.size();
    if (!ignoreCase)
        return std::memcmp(at, sought.data(), static_cast<size_t>(n)) == 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (asciiLower(at[i]) != asciiLower(sought[i]))
            return false;
    }
    return true;
}

// Byte length of the blank at `i`, or 0 when none stands there.
qsizetype blankAt(QByteArrayView text, qsizetype i) {
    if (text[i] == ' ')
        return 1;
    if (i + 1 < text.size() && static_cast<unsigned char>(text[i]) == kFullWidthBlankByte &&
        static_cast<unsigned char>(text[i + 1]) == kFullWidthBlankByte)
        return 2;
    return 0;
}

// 0-based offset where a walk starts; positions below 1 count as 1.
qsizetype startOffset(std::optional<int> startPosition) {
    const int position = startPosition.value_or(1);
    return position < 1 ? 0 : static_cast<qsizetype>(position) - 1;
}

} // namespace

Text joinTexts(std::initializer_list<QByteArrayView> parts) {
    qsizetype total = 0;
    for (QByteArrayView part : parts)
        total += part.size();
    // Never the null array: the result is always a real text, even when empty.
    Text result(total, Qt::Uninitialized);
    char* out = result.data();
    for (QByteArrayView part : parts) {
        if (part.isEmpty())
            continue;
        std::memcpy(out, part.data(), static_cast<size_t>(part.size()));
        out += part.size();
    }
    return result;
}

int byteCount(QByteArrayView textOrBytes) {
    return static_cast<int>(textOrBytes.size());
}

Text stripBlanks(QByteArrayView text) {
    const qsizetype length = text.size();
    qsizetype begin = 0;
    while (begin < length) {
        const qsizetype blank = blankAt(text, begin);
        if (blank == 0)
            break;
        begin += blank;
    }
    qsizetype end = length;
    qsizetype trailingBlanks = -1;
    qsizetype i = begin;
    while (i < length) {
        if (const qsizetype blank = blankAt(text, i); blank != 0) {
            if (trailingBlanks < 0)
                trailingBlanks = i;
            i += blank;
        } else if (isLeadByte(text[i]) && i + 1 == length) {
            // A lead byte without its trail byte is dropped, and ends the final run of blanks.
            trailingBlanks = -1;
            end = i;
            break;
        } else {
            trailingBlanks = -1;
            i += isLeadByte(text[i]) ? 2 : 1;
        }
    }
    if (trailingBlanks >= 0)
        end = trailingBlanks;
    return text.sliced(begin, end - begin).toByteArray();
}

int searchText(QByteArrayView text, QByteArrayView sought, std::optional<int> startPosition,
               bool caseInsensitive) {
    const qsizetype length = text.size();
    const qsizetype n = sought.size();
    qsizetype i = startOffset(startPosition);
    if (i >= length && i > 0)
        return -1;
    if (n == 0)
        return length - i > 0 ? 1 : -1;
    const char* s = text.data();
    while (length - i >= n) {
        if (matchesAt(s + i, sought, caseInsensitive))
            return static_cast<int>(i + 1);
        if (isLeadByte(s[i])) {
            if (i + 1 == length)
                return -1;
            i += 2;
        } else {
            ++i;
        }
    }
    return -1;
}

Text substituteText(QByteArrayView text, QByteArrayView sought,
                    std::optional<QByteArrayView> replacement, std::optional<int> startPosition,
                    std::optional<int> count, bool caseSensitive) {
    const qsizetype length = text.size();
    const qsizetype n = sought.size();
    const qsizetype start = startOffset(startPosition);
    const int limit = count.value_or(-1);
    if (length == 0 || n == 0 || start >= length || limit == 0)
        return text.toByteArray();

    const QByteArrayView with = replacement.value_or(QByteArrayView());
    const char* s = text.data();
    Text result;
    result.reserve(length);
    result.append(s, start);
    qsizetype i = start;
    int made = 0;
    while (length - i >= n) {
        if (matchesAt(s + i, sought, !caseSensitive)) {
            result.append(with);
            i += n;
            if (++made == limit)
                break;
        } else if (isLeadByte(s[i])) {
            // A last lead byte without its trail byte is not copied.
            if (i + 1 < length)
                result.append(s + i, 2);
            i += 2;
        } else {
            result.append(s[i]);
            ++i;
        }
    }
    if (i < length)
        result.append(s + i, length - i);
    return result;
}

Text formatInteger(qint32 value) {
    return QByteArray::number(value);
}

Text hexOf(qint32 value) {
    return QByteArray::number(static_cast<quint32>(value), 16).toUpper();
}

Text byteToChar(quint8 byte) {
    if (byte == 0)
        return Text();
    return Text(1, static_cast<char>(byte));
}

Bytes textToBytes(QByteArrayView text) {
    return text.toByteArray();
}

Text bytesToText(const Bytes& bytes) {
    const qsizetype zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.first(zero);
}

double remainderOf(double dividend, double divisor) {
    return std::fmod(dividend, divisor);
}

} // namespace pennaro

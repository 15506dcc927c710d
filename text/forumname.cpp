#include "text/forumname.h"

#include "runtime/core/cp936codec.h"

#include <QString>

#include <utility>

namespace pennaro {

namespace {

constexpr int kCodePage936 = 936;
constexpr int kCodePageUtf8 = 65001;

bool isPlain(unsigned char v) {
    return (v >= 0x2C && v <= 0x39) || (v >= 0x41 && v <= 0x5A) || (v >= 0x61 && v <= 0x7A);
}

} // namespace

Text encodeForumName(QByteArrayView name, bool keepPlain, const std::function<void()>& pumpEvents) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const Text utf8 = gbkToUtf8(name);
    Text encoded;
    encoded.reserve(utf8.size() * 3);
    for (const char byte : utf8) {
        const auto v = static_cast<unsigned char>(byte);
        if (keepPlain && isPlain(v)) {
            encoded.append(byte);
        } else {
            encoded.append('%');
            encoded.append(kHexDigits[v >> 4]);
            encoded.append(kHexDigits[v & 0x0F]);
        }
        if (pumpEvents)
            pumpEvents();
    }
    return encoded;
}

Text gbkToUtf8(QByteArrayView text) {
    return Cp936Codec::decode(text).toUtf8();
}

Bytes ansiToUtf16(QByteArrayView text, int codePage) {
    QString decoded;
    if (codePage == kCodePage936)
        decoded = Cp936Codec::decode(text);
    else if (codePage == kCodePageUtf8)
        decoded = QString::fromUtf8(text);
    else
        return {};
    // The source runs to its first zero, which is converted too.
    if (const qsizetype zero = decoded.indexOf(QChar(u'\0')); zero >= 0)
        decoded.truncate(zero);
    Bytes out;
    out.reserve((decoded.size() + 1) * 2);
    for (const QChar c : std::as_const(decoded)) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    out.append(2, '\0');
    return out;
}

Text utf16ToMultiByte(QByteArrayView utf16, int codePage) {
    QString units;
    units.reserve(utf16.size() / 2);
    for (qsizetype i = 0; i + 1 < utf16.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(utf16[i]) |
                                                static_cast<unsigned char>(utf16[i + 1]) << 8);
        if (unit == 0)
            break;
        units.append(QChar(unit));
    }
    if (codePage == kCodePage936)
        return Cp936Codec::encode(units);
    if (codePage == kCodePageUtf8)
        return units.toUtf8();
    return {};
}

} // namespace pennaro

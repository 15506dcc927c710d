#include "app/net/pagecharset.h"

#include "runtime/core/cp936codec.h"

#include <QString>

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace pennaro {

namespace {

constexpr qsizetype kMetaWindow = 1024;

bool isCharsetChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
}

// The value after the first "charset=" in `text`, quotes and blanks around it skipped.
QByteArray charsetParameter(QByteArrayView text) {
    const QByteArray lower = text.toByteArray().toLower();
    const qsizetype at = lower.indexOf("charset");
    if (at < 0)
        return {};
    qsizetype i = at + 7;
    while (i < lower.size() && (lower[i] == ' ' || lower[i] == '\t'))
        ++i;
    if (i >= lower.size() || lower[i] != '=')
        return charsetParameter(text.sliced(at + 7));
    ++i;
    while (i < lower.size() && (lower[i] == ' ' || lower[i] == '"' || lower[i] == '\''))
        ++i;
    qsizetype end = i;
    while (end < lower.size() && isCharsetChar(lower[end]))
        ++end;
    return lower.mid(i, end - i);
}

QByteArray metaCharset(QByteArrayView body) {
    const QByteArray head = body.first(std::min(body.size(), kMetaWindow)).toByteArray().toLower();
    qsizetype from = 0;
    while (true) {
        const qsizetype meta = head.indexOf("<meta", from);
        if (meta < 0)
            return {};
        qsizetype end = head.indexOf('>', meta);
        if (end < 0)
            end = head.size();
        const QByteArrayView tag = QByteArrayView(head).sliced(meta, end - meta);
        if (QByteArray charset = charsetParameter(tag); !charset.isEmpty())
            return charset;
        from = end;
    }
}

bool isGbkFamily(QByteArrayView charset) {
    static const char* const kNames[] = {
        "gbk",      "gb2312",    "cp936",           "gb18030",    "x-gbk",   "csgb2312",
        "chinese",  "ms936",     "windows-936",     "gb_2312-80", "gb_2312", "euc-cn",
        "x-euc-cn", "iso-ir-58", "csiso58gb231280", "csgbk",      "cp-936",  "936"};
    return std::any_of(std::begin(kNames), std::end(kNames),
                       [&](const char* name) { return charset == name; });
}

bool isUtf8(QByteArrayView charset) {
    return charset == "utf-8" || charset == "utf8" || charset == "unicode-1-1-utf-8";
}

// Decodes with the system's converter; an unconvertible byte becomes U+FFFD. False when the
// system does not know the charset.
bool decodeWithIconv(QByteArrayView body, const QByteArray& charset, QString& text) {
    iconv_t cd = iconv_open("UTF-16LE", charset.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    QByteArray out;
    char* in = const_cast<char*>(body.data());
    size_t inLeft = static_cast<size_t>(body.size());
    char chunk[16384];
    while (inLeft > 0) {
        char* o = chunk;
        size_t outLeft = sizeof chunk;
        const size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
        out.append(chunk, static_cast<qsizetype>(sizeof chunk - outLeft));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // An ill-formed or cut-off sequence: mark it and go on after its first byte.
            const char16_t replacement = 0xFFFD;
            out.append(reinterpret_cast<const char*>(&replacement), 2);
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    text = QString(reinterpret_cast<const QChar*>(out.constData()), out.size() / 2);
    return true;
}

} // namespace

QByteArray declaredCharset(const HttpResponse& response) {
    if (QByteArray charset = charsetParameter(response.contentType); !charset.isEmpty())
        return charset;
    return metaCharset(response.body);
}

Bytes pageBytesInListCodePage(const HttpResponse& response) {
    const QByteArray charset = declaredCharset(response);
    if (charset.isEmpty() || isGbkFamily(charset))
        return response.body;
    if (isUtf8(charset)) {
        const qsizetype nul = response.body.indexOf('\0');
        return Cp936Codec::fromUtf8(nul < 0 ? QByteArrayView(response.body)
                                            : QByteArrayView(response.body).first(nul));
    }
    QString text;
    if (!decodeWithIconv(response.body, charset, text))
        return response.body;
    if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0)
        text.truncate(nul);
    return Cp936Codec::encode(text);
}

} // namespace pennaro

#include "app/net/pagecharset.h"

#include "runtime/core/cp936codec.h"

#include <QString>

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>

namespace pennaro {

namespace {

// Browsers look for a meta declaration only this far into a page.
constexpr qsizetype kPrescanBytes = 1024;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
           c == ':' || c == '+';
}

QByteArrayView trimmed(QByteArrayView text) {
    while (!text.isEmpty() && isSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isSpace(text.back()))
        text.chop(1);
    return text;
}

// A charset name in lower case, or "" when the value cannot be one. The check also keeps
// iconv's "//" suffixes out of what reaches iconv_open.
QByteArray charsetName(QByteArrayView value) {
    value = trimmed(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = trimmed(value.sliced(1, value.size() - 2));
    QByteArray name = value.toByteArray().toLower();
    if (!std::all_of(name.cbegin(), name.cend(), isNameChar))
        return {};
    return name;
}

// The charset parameter of a media type such as "text/html; charset=UTF-8".
QByteArray headerCharset(QByteArrayView contentType) {
    const QList<QByteArray> parts = contentType.toByteArray().split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype eq = parts[i].indexOf('=');
        if (eq >= 0 &&
            trimmed(QByteArrayView(parts[i]).first(eq)).compare("charset", Qt::CaseInsensitive) ==
                0)
            return charsetName(QByteArrayView(parts[i]).sliced(eq + 1));
    }
    return {};
}

// The charset in a meta tag's content attribute (lower case), as browsers read it: the first
// "charset" followed by "=", then a quoted value or one up to a blank or ";".
QByteArray contentCharset(QByteArrayView content) {
    for (qsizetype at = content.indexOf("charset"); at >= 0;
         at = content.indexOf("charset", at + 7)) {
        qsizetype i = at + 7;
        while (i < content.size() && isSpace(content[i]))
            ++i;
        if (i >= content.size() || content[i] != '=')
            continue;
        ++i;
        while (i < content.size() && isSpace(content[i]))
            ++i;
        if (i >= content.size())
            return {};
        if (content[i] == '"' || content[i] == '\'') {
            const qsizetype close = content.indexOf(content[i], i + 1);
            return close < 0 ? QByteArray() : charsetName(content.sliced(i + 1, close - i - 1));
        }
        qsizetype end = i;
        while (end < content.size() && !isSpace(content[end]) && content[end] != ';')
            ++end;
        return charsetName(content.sliced(i, end - i));
    }
    return {};
}

struct MetaAttributes {
    QByteArray charset;
    QByteArray httpEquiv;
    QByteArray content;
    bool hasCharset = false;
    bool hasHttpEquiv = false;
    bool hasContent = false;
};

// Reads the attributes of a tag from `i` (just after its name) in lower-case `head`; returns
// the position after its ">", or -1 when the tag does not end within `head`.
qsizetype readAttributes(QByteArrayView head, qsizetype i, MetaAttributes& meta) {
    const qsizetype n = head.size();
    while (true) {
        while (i < n && (isSpace(head[i]) || head[i] == '/'))
            ++i;
        if (i >= n)
            return -1;
        if (head[i] == '>')
            return i + 1;
        const qsizetype nameStart = i;
        while (i < n && !isSpace(head[i]) && head[i] != '=' && head[i] != '>' && head[i] != '/')
            ++i;
        const QByteArrayView name = head.sliced(nameStart, i - nameStart);
        while (i < n && isSpace(head[i]))
            ++i;
        QByteArrayView value;
        if (i < n && head[i] == '=') {
            ++i;
            while (i < n && isSpace(head[i]))
                ++i;
            if (i < n && (head[i] == '"' || head[i] == '\'')) {
                const qsizetype close = head.indexOf(head[i], i + 1);
                if (close < 0)
                    return -1;
                value = head.sliced(i + 1, close - i - 1);
                i = close + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < n && !isSpace(head[i]) && head[i] != '>')
                    ++i;
                value = head.sliced(valueStart, i - valueStart);
            }
        }
        // The first of repeated attributes counts.
        if (name == "charset" && !meta.hasCharset) {
            meta.charset = value.toByteArray();
            meta.hasCharset = true;
        } else if (name == "http-equiv" && !meta.hasHttpEquiv) {
            meta.httpEquiv = value.toByteArray();
            meta.hasHttpEquiv = true;
        } else if (name == "content" && !meta.hasContent) {
            meta.content = value.toByteArray();
            meta.hasContent = true;
        }
    }
}

QByteArray metaCharset(QByteArrayView body) {
    const QByteArray head =
        body.first(std::min(body.size(), kPrescanBytes)).toByteArray().toLower();
    const QByteArrayView view(head);
    qsizetype i = 0;
    while ((i = view.indexOf('<', i)) >= 0) {
        if (view.sliced(i).startsWith("<!--")) {
            const qsizetype end = view.indexOf("-->", i + 4);
            if (end < 0)
                return {};
            i = end + 3;
            continue;
        }
        const qsizetype afterName = i + 5;
        if (!view.sliced(i).startsWith("<meta") || afterName >= view.size() ||
            !(isSpace(view[afterName]) || view[afterName] == '/')) {
            ++i;
            continue;
        }
        MetaAttributes meta;
        i = readAttributes(view, afterName, meta);
        if (i < 0)
            return {};
        QByteArray charset;
        if (meta.hasCharset)
            charset = charsetName(meta.charset);
        else if (meta.hasContent && trimmed(meta.httpEquiv) == "content-type")
            charset = contentCharset(meta.content);
        if (charset.startsWith("utf-16"))
            return "utf-8";
        if (!charset.isEmpty())
            return charset;
    }
    return {};
}

bool isOneOf(QByteArrayView name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(),
                       [&](const char* known) { return name == QByteArrayView(known); });
}

// Names under which pages in code page 936 or its GB18030 superset are served: the list's
// own bytes already.
bool isGbkFamily(QByteArrayView charset) {
    return isOneOf(charset, {"gbk",         "x-gbk",     "csgbk",        "cp936",
                             "cp-936",      "ms936",     "windows-936",  "936",
                             "gb2312",      "csgb2312",  "gb_2312",      "gb_2312-80",
                             "gb2312-80",   "chinese",   "iso-ir-58",    "csiso58gb231280",
                             "euc-cn",      "euccn",     "x-euc-cn",     "cn-gb",
                             "gb18030",     "csgb18030", "gb18030-2000", "gb18030-2005",
                             "gb18030-2022"});
}

bool isUtf8(QByteArrayView charset) {
    return isOneOf(charset, {"utf-8", "utf8", "unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8",
                             "x-unicode20utf8"});
}

// Decodes with the system's converter, U+FFFD for each byte that does not decode. False when
// the system does not know the charset.
bool decodeWithIconv(QByteArrayView body, const QByteArray& charset, QString& text) {
    const iconv_t cd = iconv_open("UTF-16LE", charset.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    QByteArray out;
    out.reserve(body.size() * 2);
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
            out.append(reinterpret_cast<const char*>(&replacement), sizeof replacement);
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
    if (QByteArray charset = headerCharset(response.contentType); !charset.isEmpty())
        return charset;
    return metaCharset(response.body);
}

Bytes pageBytesInListCodePage(const HttpResponse& response) {
    const QByteArray charset = declaredCharset(response);
    if (charset.isEmpty() || isGbkFamily(charset))
        return response.body;
    // The list's encoder drops U+0000, so the cut that a zero byte makes in a raw page is made
    // here, in the decoded text. In UTF-8 a zero byte is always U+0000.
    if (isUtf8(charset)) {
        const QByteArrayView body(response.body);
        const qsizetype nul = body.indexOf('\0');
        return Cp936Codec::fromUtf8(nul < 0 ? body : body.first(nul));
    }
    QString text;
    if (!decodeWithIconv(response.body, charset, text))
        return response.body;
    if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0)
        text.truncate(nul);
    return Cp936Codec::encode(text);
}

} // namespace pennaro

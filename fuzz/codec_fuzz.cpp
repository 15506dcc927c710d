// The edit boxes' mapping: any list bytes reach the document as text that it keeps as it is,
// and come back as the same bytes.
#include "fuzz/fuzzinput.h"
#include "runtime/core/cp936codec.h"

#include <QString>

using namespace pennaro;
using pennaro::fuzzing::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A list is a text, which holds no zero byte.
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    bytes.replace('\0', QByteArrayView());

    const QString text = Cp936Codec::decode(bytes, Cp936Codec::LineBreaks::Widget);
    const Text back = Cp936Codec::encode(text, Cp936Codec::LineBreaks::Widget);
    check(back == bytes, "bytes -> widget text -> bytes", bytes, back);

    // Only our own line-break mapping may produce the separators, one for each break.
    qsizetype pairs = 0;
    qsizetype loneFeeds = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n')
            ++(i > 0 && bytes[i - 1] == '\r' ? pairs : loneFeeds);
    }
    qsizetype paragraphs = 0;
    qsizetype lines = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        check(c != u'\r' && c != u'\n' && c != 0 && c != 0xFDD0 && c != 0xFDD1,
              "no code point the document changes");
        if (QChar::isHighSurrogate(c))
            check(i + 1 < text.size() && QChar::isLowSurrogate(text[++i].unicode()),
                  "surrogates come in pairs");
        else
            check(!QChar::isLowSurrogate(c), "surrogates come in pairs");
        paragraphs += c == 0x2029 ? 1 : 0;
        lines += c == 0x2028 ? 1 : 0;
    }
    check(paragraphs == pairs, "one paragraph break per \\r\\n");
    check(lines == loneFeeds, "one line separator per lone \\n");

    // Without the widget mapping the line breaks stay as they are, and so do the bytes.
    const QString plain = Cp936Codec::decode(bytes);
    check(Cp936Codec::encode(plain) == bytes, "bytes -> text -> bytes");

    // A unit's byte offset is the length of what comes before its character.
    const qsizetype step = plain.size() / 16 + 1;
    for (qsizetype unit = 0; unit <= plain.size(); unit += step) {
        const qsizetype start =
            unit > 0 && unit < plain.size() && plain[unit].isLowSurrogate() ? unit - 1 : unit;
        check(Cp936Codec::byteOffsetOfUnit(bytes, unit) ==
                  Cp936Codec::encode(QStringView(plain).first(start)).size(),
              "byte offset of a unit");
    }

    // The direct path from UTF-8 agrees with Qt's decoder.
    const Text direct = Cp936Codec::fromUtf8(bytes);
    const Text viaQt = Cp936Codec::encode(QString::fromUtf8(bytes));
    check(direct == viaQt, "fromUtf8 agrees with QString::fromUtf8", viaQt, direct);
    return 0;
}

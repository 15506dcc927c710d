#pragma once

#include "runtime/core/textdefs.h"

#include <QString>
#include <QStringView>

namespace pennaro {

// The one crossing between the program's bytes and Unicode text.
//
// Lossless for bytes: decode() then encode() gives back any zero-free byte sequence exactly.
// Bytes valid in code page 936 decode to their characters; a GB18030 four-byte form decodes to
// its character when that character has no code page 936 form; every other byte (always 0x80
// or above) decodes to a private-use code point of its own, U+F700 + byte, which encodes back
// to that byte.
//
// LineBreaks::Widget is the mapping for the edit boxes, whose document knows only paragraph
// breaks: "\r\n" <-> U+2029, a lone "\n" <-> U+2028 (shown as a line break), a lone "\r" <->
// U+F70D. Code points the document would not keep are never produced in that mode.
class Cp936Codec final {
public:
    enum class LineBreaks { Keep, Widget };

    static QString decode(QByteArrayView bytes, LineBreaks breaks = LineBreaks::Keep);
    // Characters outside code page 936 take their GB18030 four-byte form; U+0000 is dropped,
    // since a text cannot hold a zero byte, and so is a lone surrogate, which has no form.
    static Text encode(QStringView text, LineBreaks breaks = LineBreaks::Keep);
    // encode(QString::fromUtf8(utf8)), without the detour through UTF-16.
    static Text fromUtf8(QByteArrayView utf8);

    // Byte offset in `bytes` of the character that holds UTF-16 unit `unitIndex` of
    // decode(bytes); bytes.size() at or past the end.
    static qsizetype byteOffsetOfUnit(QByteArrayView bytes, qsizetype unitIndex);

    static constexpr char16_t kRawByteBase = 0xF700;
};

// A literal of the program's own, written in Unicode in the source.
inline Text cp936(QStringView text) {
    return Cp936Codec::encode(text);
}

} // namespace pennaro

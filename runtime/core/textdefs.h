#pragma once

#include <QByteArray>
#include <QList>

namespace pennaro {

// A text of the program: code page 936 bytes (GB18030 four-byte forms for characters that code
// page 936 lacks), never holding a zero byte. The empty and the missing text are one value.
using Text = QByteArray;

// A counted byte sequence that may hold zero bytes.
using Bytes = QByteArray;

// Texts in order; the program counts its members from 1, the container from 0.
using TextArray = QList<Text>;

} // namespace pennaro

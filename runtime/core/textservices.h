#pragma once

#include "runtime/core/textdefs.h"

#include <initializer_list>
#include <optional>

namespace pennaro {

// Texts. Positions and lengths count bytes; positions are 1-based; -1 is "not found".
// Where a text is walked character by character, a byte of 0x80 or above and the byte after it
// are one character.

Text joinTexts(std::initializer_list<QByteArrayView> parts);
int byteCount(QByteArrayView textOrBytes);
// Without the blanks (0x20, and the pair 0xA1 0xA1) at both ends.
Text stripBlanks(QByteArrayView text);
int searchText(QByteArrayView text, QByteArrayView sought,
               std::optional<int> startPosition = std::nullopt, bool caseInsensitive = false);
Text substituteText(QByteArrayView text, QByteArrayView sought,
                    std::optional<QByteArrayView> replacement = std::nullopt,
                    std::optional<int> startPosition = std::nullopt,
                    std::optional<int> count = std::nullopt, bool caseSensitive = false);

// Conversions.
Text formatInteger(qint32 value);
Text hexOf(qint32 value);
Text byteToChar(quint8 byte);
Bytes textToBytes(QByteArrayView text);
// Shares the bytes when they hold no zero byte: a page is big.
Text bytesToText(const Bytes& bytes);
double remainderOf(double dividend, double divisor);

} // namespace pennaro

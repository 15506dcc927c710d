#pragma once

#include "runtime/core/textdefs.h"

#include <optional>

namespace pennaro {

// Fills `result` (emptied first) with every text that stands between leftMarker and the next
// rightMarker on the same line, letters compared without regard to case, and returns the count.
// Each item reads [leftMarker] prefix text suffix [rightMarker]. With a maxLength other than 0 an
// item whose text is longer is dropped, and the markers exclude each other, the left one winning.
int extractBetween(QByteArrayView subject, QByteArrayView leftMarker, QByteArrayView rightMarker,
                   TextArray& result, int maxLength = 0, QByteArrayView prefix = {},
                   QByteArrayView suffix = {}, bool includeLeft = false, bool includeRight = false);

// The marker with each of ? * + [ ] ( ) { } preceded by a backslash; nothing else is escaped.
Text escapeMarker(QByteArrayView marker);

// Five substitutions applied one after the other; a pair with an empty find text does nothing.
// A startPosition of 0 counts as 1.
Text replaceFivePairs(QByteArrayView text, std::optional<int> count,
                      std::optional<int> startPosition, bool caseSensitive, QByteArrayView find1,
                      QByteArrayView replacement1, QByteArrayView find2 = {},
                      QByteArrayView replacement2 = {}, QByteArrayView find3 = {},
                      QByteArrayView replacement3 = {}, QByteArrayView find4 = {},
                      QByteArrayView replacement4 = {}, QByteArrayView find5 = {},
                      QByteArrayView replacement5 = {});

} // namespace pennaro

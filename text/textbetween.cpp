#include "text/textbetween.h"

#include "runtime/core/textservices.h"
#include "text/regexobject.h"

#include <utility>

namespace pennaro {

int extractBetween(QByteArrayView subject, QByteArrayView leftMarker, QByteArrayView rightMarker,
                   TextArray& result, int maxLength, QByteArrayView prefix, QByteArrayView suffix,
                   bool includeLeft, bool includeRight) {
    RegexObject regex;
    result.clear();
    const Text pattern = joinTexts({escapeMarker(leftMarker), "(.*?)", escapeMarker(rightMarker)});
    regex.compileAndExecute(pattern, subject);
    const int n = regex.matchCount();
    for (int i = 1; i <= n; ++i) {
        const Text between = regex.subMatchText(i, 1);
        if (maxLength != 0) {
            if (byteCount(between) > maxLength)
                continue;
            Text item = joinTexts({prefix, between, suffix});
            if (includeLeft)
                item = joinTexts({leftMarker, item});
            else if (includeRight)
                item = joinTexts({item, rightMarker});
            result.append(item);
        } else {
            Text item = joinTexts({prefix, between, suffix});
            if (includeLeft)
                item = joinTexts({leftMarker, item});
            if (includeRight)
                item = joinTexts({item, rightMarker});
            result.append(item);
        }
    }
    return static_cast<int>(result.size());
}

Text escapeMarker(QByteArrayView marker) {
    const Text once = replaceFivePairs(marker, std::nullopt, std::nullopt, false, "?", "\\?", "*",
                                       "\\*", "+", "\\+", "[", "\\[", "]", "\\]");
    return replaceFivePairs(once, std::nullopt, std::nullopt, false, "(", "\\(", ")", "\\)", "{",
                            "\\{", "}", "\\}");
}

Text replaceFivePairs(QByteArrayView text, std::optional<int> count,
                      std::optional<int> startPosition, bool caseSensitive, QByteArrayView find1,
                      QByteArrayView replacement1, QByteArrayView find2,
                      QByteArrayView replacement2, QByteArrayView find3,
                      QByteArrayView replacement3, QByteArrayView find4,
                      QByteArrayView replacement4, QByteArrayView find5,
                      QByteArrayView replacement5) {
    const int start = startPosition.value_or(0) == 0 ? 1 : *startPosition;
    const std::pair<QByteArrayView, QByteArrayView> pairs[] = {{find1, replacement1},
                                                               {find2, replacement2},
                                                               {find3, replacement3},
                                                               {find4, replacement4},
                                                               {find5, replacement5}};
    Text out = text.toByteArray();
    for (const auto& [find, replacement] : pairs)
        out = substituteText(out, find, replacement, start, count, caseSensitive);
    return out;
}

} // namespace pennaro

#include "text/textbetween.h"

#include "runtime/core/textservices.h"
#include "text/regexobject.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace pennaro {

namespace {

// A marker whose escaped form matches only its own bytes, never a line feed: none of the
// characters that keep a pattern meaning after escaping, and no line feed.
bool isPlainMarker(QByteArrayView marker) {
    return std::none_of(marker.begin(), marker.end(), [](char c) {
        return c == '\\' || c == '.' || c == '^' || c == '$' || c == '|' || c == '\n';
    });
}

Text asciiLower(QByteArrayView text) {
    Text lower = text.toByteArray();
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// The lines of `subject` that hold `marker` (ASCII letters in any case), joined by line feeds.
//
// With plain markers the expression cannot match across a line feed, and a line feed always
// stands for itself in the code page (no byte of a two- or four-byte character is 0x0A), so
// the lines decode alike on their own. Running over these lines therefore finds exactly the
// matches of a run over the whole subject, while the rest of a page is never decoded.
Text linesHolding(QByteArrayView subject, QByteArrayView marker) {
    const bool letters = std::any_of(marker.begin(), marker.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
    const Text lowered = letters ? asciiLower(subject) : Text();
    const QByteArrayView haystack = letters ? QByteArrayView(lowered) : subject;
    const Text needle = letters ? asciiLower(marker) : marker.toByteArray();
    Text lines;
    qsizetype from = 0;
    while (from < haystack.size()) {
        // glibc's memmem is several times faster than the generic searches here.
        const void* found =
            memmem(haystack.data() + from, static_cast<size_t>(haystack.size() - from),
                   needle.constData(), static_cast<size_t>(needle.size()));
        if (found == nullptr)
            break;
        const qsizetype hit = static_cast<const char*>(found) - haystack.data();
        const qsizetype start = subject.lastIndexOf('\n', hit) + 1;
        qsizetype end = subject.indexOf('\n', hit);
        if (end < 0)
            end = subject.size();
        if (!lines.isEmpty())
            lines.append('\n');
        lines.append(subject.sliced(start, end - start));
        from = end + 1;
    }
    return lines;
}

} // namespace

int extractBetween(QByteArrayView subject, QByteArrayView leftMarker, QByteArrayView rightMarker,
                   TextArray& result, int maxLength, QByteArrayView prefix, QByteArrayView suffix,
                   bool includeLeft, bool includeRight) {
    RegexObject regex;
    result.clear();
    const Text escapedLeft = escapeMarker(leftMarker);
    const Text pattern = joinTexts({escapedLeft, "(.*?)", escapeMarker(rightMarker)});
    if (isPlainMarker(leftMarker) && isPlainMarker(rightMarker)) {
        // Without backslashes of its own, the escaped marker stands for itself less the escapes
        // (escaping may also have dropped a lone last lead byte).
        Text literalLeft = escapedLeft;
        literalLeft.replace("\\", "");
        if (literalLeft.isEmpty())
            regex.compileAndExecute(pattern, subject);
        else
            regex.compileAndExecute(pattern, linesHolding(subject, literalLeft));
    } else {
        regex.compileAndExecute(pattern, subject);
    }
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

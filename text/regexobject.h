#pragma once

#include "runtime/core/textdefs.h"

#include <memory>
#include <optional>

namespace pennaro {

// A compiled expression run over one subject, with its matches kept for reading.
//
// Texts are code page 936; the engine sees them as UTF-16 code units, "." matches everything but
// a line feed. Indexes are 1-based; positions are 0-based byte offsets into the subject, -2 where
// there is nothing to place. Nothing is reported: a failed run simply has no matches.
//
// A copy shares the compiled expression and the matches of its source and keeps its own copy of
// the subject.
class RegexObject final {
public:
    RegexObject();
    virtual ~RegexObject();
    RegexObject(const RegexObject& other);
    RegexObject& operator=(const RegexObject& other);
    virtual std::unique_ptr<RegexObject> clone() const;

    // Ignores case unless caseSensitive is true; multiline and global unless given false.
    // False only when the run failed (malformed pattern, match limit); finding nothing is true.
    virtual bool compileAndExecute(QByteArrayView pattern, QByteArrayView subject,
                                   std::optional<bool> caseSensitive = std::nullopt,
                                   std::optional<bool> multiline = std::nullopt,
                                   std::optional<bool> global = std::nullopt);
    virtual Text patternText() const;
    // The kept subject with the matches of the last run replaced; $1..$99, $&, $`, $' and $$
    // stand for what they stand for in a JScript replacement.
    virtual Text replaceMatches(QByteArrayView replacement = {}) const;
    virtual int matchCount() const;
    virtual Text matchText(int index, int* position = nullptr) const;
    virtual Text subMatchText(int index, int subIndex, int* position = nullptr) const;
    virtual int subMatchCount() const;

    static constexpr int kNoPosition = -2;

private:
    struct Engine;
    struct Matches;

    // The [start, end) units of group `group` of match `index` (both 0-based), or nothing.
    std::optional<std::pair<qsizetype, qsizetype>> span(int index, int group) const;
    Text spanText(std::optional<std::pair<qsizetype, qsizetype>> range, int* position) const;

    std::shared_ptr<const Engine> m_engine;
    std::shared_ptr<const Matches> m_matches;
    Text m_subject;
};

} // namespace pennaro

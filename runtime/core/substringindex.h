#pragma once

#include "runtime/core/textdefs.h"

#include <cstdint>
#include <vector>

namespace pennaro {

// A text that only grows at its end, with an index that answers "does searchText() find this
// in it?" without scanning the whole text: the answer is exactly searchText(text, sought) != -1
// (case-sensitive, matches only at character starts when walking from the first byte).
//
// Every character start is filed under the four bytes that begin there; a query looks up the
// rarest four-byte piece of the sought text that starts at one of its own characters, and checks
// only the places where that piece stands.
class SubstringIndex final {
public:
    SubstringIndex() { assign(Text()); }

    const Text& text() const { return m_text; }
    void assign(const Text& text);
    void append(QByteArrayView bytes);
    bool contains(QByteArrayView sought) const;

private:
    static constexpr int kPieceLength = 4;

    bool isCharacterStart(qsizetype position) const {
        return (m_starts[static_cast<size_t>(position) >> 6] >> (position & 63)) & 1u;
    }
    void markStarts(qsizetype from);
    void fileStarts();
    void rehash(size_t bucketCount);
    size_t bucketOf(const char* piece) const;
    bool scanShort(QByteArrayView sought) const;

    Text m_text;
    // One bit per byte: set where a character starts.
    std::vector<std::uint64_t> m_starts;
    // The next character start not marked yet; past the end when the last character is cut.
    qsizetype m_nextStart = 0;
    // Character starts before this are filed.
    qsizetype m_filedUpTo = 0;
    // Chains of filed positions by bucket: m_head[b] and m_next[p] hold position + 1, 0 ends.
    std::vector<std::uint32_t> m_head;
    std::vector<std::uint32_t> m_count;
    std::vector<std::uint32_t> m_next;
    unsigned m_bucketShift = 0;
};

} // namespace pennaro

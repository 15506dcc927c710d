#include "runtime/core/substringindex.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace pennaro {

namespace {

constexpr size_t kMinBuckets = size_t(1) << 12;

std::uint32_t pieceValue(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

void SubstringIndex::assign(const Text& text) {
    m_text = text;
    // Room to grow, so the first appends to a big list do not copy it all.
    const auto headroom = static_cast<size_t>(std::max<qsizetype>(64 * 1024, m_text.size() / 8));
    m_text.reserve(m_text.size() + static_cast<qsizetype>(headroom));
    m_starts.assign(static_cast<size_t>(m_text.size()) / 64 + 1, 0);
    m_starts.reserve(m_starts.size() + headroom / 64 + 1);
    m_nextStart = 0;
    m_filedUpTo = 0;
    m_next.assign(static_cast<size_t>(m_text.size()), 0);
    m_next.reserve(m_next.size() + headroom);
    markStarts(0);
    rehash(std::max(kMinBuckets, std::bit_ceil(static_cast<size_t>(m_text.size()) / 4 + 1)));
}

void SubstringIndex::append(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    const qsizetype oldSize = m_text.size();
    m_text.append(bytes);
    m_starts.resize(static_cast<size_t>(m_text.size()) / 64 + 1, 0);
    m_next.resize(static_cast<size_t>(m_text.size()), 0);
    markStarts(oldSize);
    // Keep chains short as the text grows: a bucket for every four bytes or so.
    if (static_cast<size_t>(m_text.size()) / 4 > (m_head.size() << 1))
        rehash(std::bit_ceil(static_cast<size_t>(m_text.size()) / 4));
    else
        fileStarts();
}

void SubstringIndex::markStarts(qsizetype from) {
    const auto* s = reinterpret_cast<const unsigned char*>(m_text.constData());
    const qsizetype n = m_text.size();
    qsizetype p = std::max(m_nextStart, from);
    while (p < n) {
        m_starts[static_cast<size_t>(p) >> 6] |= std::uint64_t(1) << (p & 63);
        p += s[p] >= 0x80 ? 2 : 1;
    }
    m_nextStart = p;
}

size_t SubstringIndex::bucketOf(const char* piece) const {
    // Fibonacci hashing of the four bytes.
    return static_cast<size_t>((pieceValue(piece) * 2654435769u) >> m_bucketShift);
}

void SubstringIndex::rehash(size_t bucketCount) {
    m_head.assign(bucketCount, 0);
    m_count.assign(bucketCount, 0);
    m_bucketShift = 32u - static_cast<unsigned>(std::countr_zero(bucketCount));
    std::fill(m_next.begin(), m_next.end(), 0);
    m_filedUpTo = 0;
    fileStarts();
}

void SubstringIndex::fileStarts() {
    const char* s = m_text.constData();
    const qsizetype last = m_text.size() - kPieceLength;
    qsizetype p = m_filedUpTo;
    for (; p <= last; ++p) {
        if (!isCharacterStart(p))
            continue;
        const size_t b = bucketOf(s + p);
        m_next[static_cast<size_t>(p)] = m_head[b];
        m_head[b] = static_cast<std::uint32_t>(p + 1);
        ++m_count[b];
    }
    m_filedUpTo = std::max(p, m_filedUpTo);
}

bool SubstringIndex::scanShort(QByteArrayView sought) const {
    const char* s = m_text.constData();
    const qsizetype n = m_text.size();
    const qsizetype m = sought.size();
    const char first = sought.front();
    qsizetype p = 0;
    while (p + m <= n) {
        const void* hit = std::memchr(s + p, first, static_cast<size_t>(n - m - p + 1));
        if (hit == nullptr)
            return false;
        p = static_cast<const char*>(hit) - s;
        if (isCharacterStart(p) && std::memcmp(s + p, sought.data(), static_cast<size_t>(m)) == 0)
            return true;
        ++p;
    }
    return false;
}

bool SubstringIndex::contains(QByteArrayView sought) const {
    const qsizetype n = m_text.size();
    const qsizetype m = sought.size();
    if (m == 0)
        return n > 0;
    if (m > n)
        return false;
    if (m < kPieceLength)
        return scanShort(sought);

    // The rarest piece among those that start a character of the sought text.
    qsizetype bestOffset = -1;
    size_t bestBucket = 0;
    std::uint32_t bestCount = std::numeric_limits<std::uint32_t>::max();
    const auto* q = reinterpret_cast<const unsigned char*>(sought.data());
    for (qsizetype j = 0; j + kPieceLength <= m; j += q[j] >= 0x80 ? 2 : 1) {
        const size_t b = bucketOf(sought.data() + j);
        if (m_count[b] < bestCount) {
            bestCount = m_count[b];
            bestOffset = j;
            bestBucket = b;
            if (bestCount == 0)
                return false;
        }
    }
    const char* s = m_text.constData();
    for (std::uint32_t link = m_head[bestBucket]; link != 0; link = m_next[link - 1]) {
        const qsizetype p = static_cast<qsizetype>(link - 1) - bestOffset;
        if (p < 0 || p + m > n || !isCharacterStart(p))
            continue;
        if (std::memcmp(s + p, sought.data(), static_cast<size_t>(m)) == 0)
            return true;
    }
    return false;
}

} // namespace pennaro

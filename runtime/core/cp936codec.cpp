#include "runtime/core/cp936codec.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>

#include <iconv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pennaro {

namespace {

constexpr int kLeadFirst = 0x81;
constexpr int kLeadCount = 0xFE - kLeadFirst + 1;
constexpr int kTrailFirst = 0x40;
constexpr int kTrailCount = 0xFE - kTrailFirst + 1;

constexpr char16_t kLoneCarriageReturn = Cp936Codec::kRawByteBase + u'\r';
constexpr char16_t kLineSeparator = 0x2028;
constexpr char16_t kParagraphSeparator = 0x2029;

// GB18030 four-byte forms are numbered linearly from 81 30 81 30; the BMP takes the first 39420,
// the supplementary planes start at 90 30 81 30.
constexpr quint32 kFourByteBmpCount = 39420;
constexpr quint32 kFourByteSupplementaryFirst = 189000;

// The code points that stand for bytes of their own: the bytes 0x80 to 0xFF that decode to no
// character, and in widget mode a lone carriage return. Only these go back to single bytes, so
// a private-use character in text from outside can never turn into a quote or a line break.
constexpr bool isRawCodePoint(char32_t c, bool widget) {
    return (c >= Cp936Codec::kRawByteBase + 0x80 && c <= Cp936Codec::kRawByteBase + 0xFF) ||
           (widget && c == kLoneCarriageReturn);
}

// Code points a QTextDocument does not keep as they are; in widget mode they come only from our
// own line-break mapping.
constexpr bool isWidgetUnsafe(char32_t c) {
    return c == kLineSeparator || c == kParagraphSeparator || c == 0xFDD0 || c == 0xFDD1;
}

// Converts one short sequence with iconv; empty on failure.
class IconvConverter final {
public:
    IconvConverter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~IconvConverter() {
        if (valid())
            iconv_close(m_cd);
    }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Number of output bytes, or -1.
    int convert(const void* in, size_t inLength, unsigned char* out, size_t outCapacity) {
        if (!valid())
            return -1;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* ip = static_cast<char*>(const_cast<void*>(in));
        char* op = reinterpret_cast<char*>(out);
        size_t il = inLength;
        size_t ol = outCapacity;
        if (iconv(m_cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0)
            return -1;
        return static_cast<int>(outCapacity - ol);
    }

private:
    iconv_t m_cd;
};

// Code page 936 as the system's converter defines it.
struct Cp936Tables {
    // 0 where the pair does not decode.
    std::array<char16_t, kLeadCount * kTrailCount> pairToCode{};
    // For a BMP code point: 0 when code page 936 lacks it, else its one- or two-byte form.
    std::array<quint16, 0x10000> codeToBytes{};

    Cp936Tables() {
        IconvConverter decoder("UTF-16LE", "CP936");
        for (int lead = kLeadFirst; lead <= 0xFE; ++lead) {
            for (int trail = kTrailFirst; trail <= 0xFE; ++trail) {
                const unsigned char in[2] = {static_cast<unsigned char>(lead),
                                             static_cast<unsigned char>(trail)};
                unsigned char out[8];
                if (decoder.convert(in, 2, out, sizeof out) != 2)
                    continue;
                const char16_t c = static_cast<char16_t>(out[0] | (out[1] << 8));
                // A code that shares its character with another would not survive a round trip.
                if (c < 0x80 || isRawCodePoint(c, true) || codeToBytes[c] != 0)
                    continue;
                pairToCode[(lead - kLeadFirst) * kTrailCount + (trail - kTrailFirst)] = c;
                codeToBytes[c] = static_cast<quint16>((lead << 8) | trail);
            }
        }
        const unsigned char euro = 0x80;
        unsigned char out[8];
        if (decoder.convert(&euro, 1, out, sizeof out) == 2)
            codeToBytes[out[0] | (out[1] << 8)] = 0x80;
    }
};

// What GB18030 adds for the BMP; built on first need, since most texts never use it.
struct Gb18030Tables {
    // Linear four-byte index -> code point, 0 where none.
    std::array<char16_t, kFourByteBmpCount> fourByteToCode{};
    // For a BMP code point that code page 936 lacks: its GB18030 form, 0 when it has none.
    // Four-byte forms are stored as 0x80000000 | linear index.
    std::array<quint32, 0x10000> codeToForm{};

    explicit Gb18030Tables(const Cp936Tables& cp936) {
        IconvConverter decoder("UTF-16LE", "GB18030");
        for (quint32 linear = 0; linear < kFourByteBmpCount; ++linear) {
            const unsigned char in[4] = {static_cast<unsigned char>(0x81 + linear / 12600),
                                         static_cast<unsigned char>(0x30 + linear / 1260 % 10),
                                         static_cast<unsigned char>(0x81 + linear / 10 % 126),
                                         static_cast<unsigned char>(0x30 + linear % 10)};
            unsigned char out[8];
            if (decoder.convert(in, 4, out, sizeof out) != 2)
                continue;
            const char16_t c = static_cast<char16_t>(out[0] | (out[1] << 8));
            if (cp936.codeToBytes[c] != 0 || c < 0x80)
                continue;
            fourByteToCode[linear] = c;
            codeToForm[c] = 0x80000000u | linear;
        }
        // The rest that GB18030 holds as two-byte codes outside code page 936 (user-defined areas).
        IconvConverter encoder("GB18030", "UTF-16LE");
        for (quint32 c = 0x80; c < 0x10000; ++c) {
            if ((c >= 0xD800 && c <= 0xDFFF) || cp936.codeToBytes[c] != 0 || codeToForm[c] != 0)
                continue;
            const unsigned char in[2] = {static_cast<unsigned char>(c & 0xFF),
                                         static_cast<unsigned char>(c >> 8)};
            unsigned char out[8];
            if (encoder.convert(in, 2, out, sizeof out) == 2)
                codeToForm[c] = static_cast<quint32>((out[0] << 8) | out[1]);
        }
    }
};

const Cp936Tables& cp936Tables() {
    static const auto tables = std::make_unique<Cp936Tables>();
    return *tables;
}

const Gb18030Tables& gb18030Tables() {
    static const auto tables = std::make_unique<Gb18030Tables>(cp936Tables());
    return *tables;
}

// Decodes the character at s[i] (not ASCII-only) into code point and length; length 1 with a raw
// code point when the byte does not start a character we can give back unchanged.
struct Decoded {
    char32_t code;
    int length;
};

Decoded decodeNonAscii(const unsigned char* s, qsizetype i, qsizetype n, bool widget) {
    const unsigned b = s[i];
    if (b == 0x80)
        return {0x20AC, 1};
    if (b >= kLeadFirst && b <= 0xFE && i + 1 < n) {
        const unsigned t = s[i + 1];
        if (t >= kTrailFirst && t <= 0xFE) {
            const char16_t c =
                cp936Tables().pairToCode[(b - kLeadFirst) * kTrailCount + (t - kTrailFirst)];
            if (c != 0)
                return {c, 2};
        } else if (t >= 0x30 && t <= 0x39 && i + 3 < n && s[i + 2] >= 0x81 && s[i + 2] <= 0xFE &&
                   s[i + 3] >= 0x30 && s[i + 3] <= 0x39) {
            const quint32 linear =
                (b - 0x81) * 12600 + (t - 0x30) * 1260 + (s[i + 2] - 0x81) * 10 + (s[i + 3] - 0x30);
            char32_t c = 0;
            if (linear < kFourByteBmpCount)
                c = gb18030Tables().fourByteToCode[linear];
            else if (linear >= kFourByteSupplementaryFirst &&
                     linear < kFourByteSupplementaryFirst + 0x100000)
                c = 0x10000 + (linear - kFourByteSupplementaryFirst);
            if (c != 0 && !isRawCodePoint(c, widget) && !(widget && isWidgetUnsafe(c)))
                return {c, 4};
        }
    }
    return {Cp936Codec::kRawByteBase + b, 1};
}

#if defined(__SSE2__)
// Widens the run of plain ASCII bytes at s[i] (no line breaks in widget mode) to `out`, 16 at a
// time; returns the new i. The output never runs ahead of the input, so `out` has room.
qsizetype widenAsciiRun(const unsigned char* s, qsizetype i, qsizetype n, char16_t*& out,
                        bool widget) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        int stop = _mm_movemask_epi8(v);
        if (widget)
            stop |= _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
        if (stop != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
        out += 16;
        i += 16;
    }
    return i;
}
#endif

} // namespace

QString Cp936Codec::decode(QByteArrayView bytes, LineBreaks breaks) {
    const bool widget = breaks == LineBreaks::Widget;
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    // No character takes more UTF-16 units than bytes.
    QString result(n, Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(result.data());
    char16_t* o = out;
    qsizetype i = 0;
    while (i < n) {
#if defined(__SSE2__)
        // Only where a run of ASCII is likely; short runs between other characters go one by one.
        if (i + 16 <= n && s[i] < 0x80 && s[i + 15] < 0x80) {
            i = widenAsciiRun(s, i, n, o, widget);
            if (i >= n)
                break;
        }
#endif
        const unsigned b = s[i];
        if (b < 0x80) {
            if (widget && b == '\r') {
                if (i + 1 < n && s[i + 1] == '\n') {
                    *o++ = kParagraphSeparator;
                    i += 2;
                } else {
                    *o++ = kLoneCarriageReturn;
                    ++i;
                }
            } else if (widget && b == '\n') {
                *o++ = kLineSeparator;
                ++i;
            } else {
                *o++ = static_cast<char16_t>(b);
                ++i;
            }
            continue;
        }
        const Decoded d = decodeNonAscii(s, i, n, widget);
        if (d.code >= 0x10000) {
            *o++ = QChar::highSurrogate(d.code);
            *o++ = QChar::lowSurrogate(d.code);
        } else {
            *o++ = static_cast<char16_t>(d.code);
        }
        i += d.length;
    }
    result.truncate(o - out);
    return result;
}

namespace {

// Appends the program's bytes for code points; grows as needed. Every character takes at most
// four bytes, so one room check per character covers it.
class ByteWriter final {
public:
    explicit ByteWriter(qsizetype expected) : m_codeToBytes(cp936Tables().codeToBytes.data()) {
        m_bytes.resize(expected + 16);
        m_out = begin();
    }

    // Room for `more` bytes at the write position.
    unsigned char* reserve(qsizetype more) {
        if (m_out + more > end()) {
            const qsizetype used = m_out - begin();
            m_bytes.resize(std::max(m_bytes.size() * 2, used + more));
            m_out = begin() + used;
        }
        return m_out;
    }
    void advance(qsizetype count) { m_out += count; }
    qsizetype room() const { return end() - m_out; }

    void put(unsigned char b) { *reserve(1) = b, ++m_out; }

    // One code point of Unicode text (not U+0000, not a surrogate).
    inline void putCodePoint(char32_t c, bool widget) {
        unsigned char* o = reserve(4);
        if (c < 0x80) {
            *o = static_cast<unsigned char>(c);
            m_out += 1;
        } else if (c >= 0x10000) {
            putFourByte(o, kFourByteSupplementaryFirst + (c - 0x10000));
        } else if (const quint16 form = m_codeToBytes[c]; form > 0xFF) {
            o[0] = static_cast<unsigned char>(form >> 8);
            o[1] = static_cast<unsigned char>(form & 0xFF);
            m_out += 2;
        } else if (form != 0) {
            *o = static_cast<unsigned char>(form);
            m_out += 1;
        } else {
            putOutsideCodePage(o, c, widget);
        }
    }

    Text take() {
        m_bytes.truncate(m_out - begin());
        return std::move(m_bytes);
    }

private:
    unsigned char* begin() { return reinterpret_cast<unsigned char*>(m_bytes.data()); }
    const unsigned char* end() const {
        return reinterpret_cast<const unsigned char*>(m_bytes.constData()) + m_bytes.size();
    }

    void putOutsideCodePage(unsigned char* o, char32_t c, bool widget) {
        if (widget && c == kParagraphSeparator) {
            o[0] = '\r';
            o[1] = '\n';
            m_out += 2;
        } else if (widget && c == kLineSeparator) {
            *o = '\n';
            m_out += 1;
        } else if (isRawCodePoint(c, widget)) {
            *o = static_cast<unsigned char>(c - Cp936Codec::kRawByteBase);
            m_out += 1;
        } else if (const quint32 form = gb18030Tables().codeToForm[c]; form & 0x80000000u) {
            putFourByte(o, form & 0x7FFFFFFFu);
        } else if (form != 0) {
            o[0] = static_cast<unsigned char>(form >> 8);
            o[1] = static_cast<unsigned char>(form & 0xFF);
            m_out += 2;
        }
    }

    void putFourByte(unsigned char* o, quint32 linear) {
        const quint32 first = linear / 12600;
        quint32 rest = linear - first * 12600;
        const quint32 second = rest / 1260;
        rest -= second * 1260;
        const quint32 third = rest / 10;
        o[0] = static_cast<unsigned char>(0x81 + first);
        o[1] = static_cast<unsigned char>(0x30 + second);
        o[2] = static_cast<unsigned char>(0x81 + third);
        o[3] = static_cast<unsigned char>(0x30 + rest - third * 10);
        m_out += 4;
    }

    const quint16* m_codeToBytes;
    Text m_bytes;
    unsigned char* m_out = nullptr;
};

#if defined(__SSE2__)
// Narrows the run of ASCII units (not U+0000) at s[i]; returns the new i.
qsizetype narrowAsciiRun(const char16_t* s, qsizetype i, qsizetype n, ByteWriter& out) {
    while (i + 8 <= n && out.room() >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i high = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
        const __m128i ascii = _mm_cmpeq_epi16(high, _mm_setzero_si128());
        const __m128i nul = _mm_cmpeq_epi16(v, _mm_setzero_si128());
        if (_mm_movemask_epi8(ascii) != 0xFFFF || _mm_movemask_epi8(nul) != 0)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out.reserve(8)), _mm_packus_epi16(v, v));
        out.advance(8);
        i += 8;
    }
    return i;
}

// Copies the run of ASCII bytes (not 0) at s[i]; returns the new i.
qsizetype copyAsciiRun(const unsigned char* s, qsizetype i, qsizetype n, ByteWriter& out) {
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (_mm_movemask_epi8(v) != 0 ||
            _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.reserve(16)), v);
        out.advance(16);
        i += 16;
    }
    return i;
}
#endif

// Decodes the UTF-8 sequence at s[i] (lead byte 0x80 or above); length 0 when it is not a
// well-formed sequence.
Decoded decodeUtf8(const unsigned char* s, qsizetype i, qsizetype n) {
    const unsigned b = s[i];
    auto cont = [&](qsizetype k) { return i + k < n && (s[i + k] & 0xC0) == 0x80; };
    if (b >= 0xC2 && b <= 0xDF && cont(1))
        return {static_cast<char32_t>(((b & 0x1F) << 6) | (s[i + 1] & 0x3F)), 2};
    if (b >= 0xE0 && b <= 0xEF && cont(1) && cont(2)) {
        const char32_t c = ((b & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
        if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF))
            return {c, 3};
    } else if (b >= 0xF0 && b <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        const char32_t c = ((b & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) |
                           ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
        if (c >= 0x10000 && c <= 0x10FFFF)
            return {c, 4};
    }
    return {0, 0};
}

} // namespace

Text Cp936Codec::encode(QStringView text, LineBreaks breaks) {
    const bool widget = breaks == LineBreaks::Widget;
    const auto* s = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    // Most texts are ASCII or two-byte characters; the writer grows for the rest.
    ByteWriter out(n * 2);
    qsizetype i = 0;
    while (i < n) {
#if defined(__SSE2__)
        if (i + 8 <= n && s[i] < 0x80 && s[i + 7] < 0x80) {
            i = narrowAsciiRun(s, i, n, out);
            if (i >= n)
                break;
        }
#endif
        const char16_t c = s[i++];
        if (c < 0x80) {
            if (c != 0)
                out.put(static_cast<unsigned char>(c));
        } else if (!QChar::isSurrogate(c)) {
            out.putCodePoint(c, widget);
        } else if (QChar::isHighSurrogate(c) && i < n && QChar::isLowSurrogate(s[i])) {
            out.putCodePoint(QChar::surrogateToUcs4(c, s[i++]), widget);
        }
    }
    return out.take();
}

Text Cp936Codec::fromUtf8(QByteArrayView utf8) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const qsizetype n = utf8.size();
    ByteWriter out(n);
    const quint16* codeToBytes = cp936Tables().codeToBytes.data();
    // A byte-order mark at the start is no character, as Qt's decoder has it.
    qsizetype i = utf8.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < n) {
#if defined(__SSE2__)
        if (i + 16 <= n && s[i] < 0x80 && s[i + 15] < 0x80) {
            i = copyAsciiRun(s, i, n, out);
            if (i >= n)
                break;
        }
#endif
        const unsigned b = s[i];
        if (b < 0x80) {
            // A short run of ASCII between other characters, in one loop: no byte grows.
            unsigned char* o = out.reserve(n - i);
            const unsigned char* const start = o;
            for (; i < n && s[i] < 0x80; ++i) {
                *o = s[i];
                o += s[i] != 0;
            }
            out.advance(o - start);
            continue;
        }
        // Three-byte sequences (all of the BMP's Chinese) are by far the most common: a run of
        // them in one loop.
        bool tookThreeByte = false;
        while (i + 2 < n && (s[i] & 0xF0) == 0xE0 && (s[i + 1] & 0xC0) == 0x80 &&
               (s[i + 2] & 0xC0) == 0x80) {
            const char32_t c = ((s[i] & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))
                break;
            if (const quint16 form = codeToBytes[c]; form > 0xFF) {
                unsigned char* o = out.reserve(2);
                o[0] = static_cast<unsigned char>(form >> 8);
                o[1] = static_cast<unsigned char>(form & 0xFF);
                out.advance(2);
            } else {
                out.putCodePoint(c, false);
            }
            i += 3;
            tookThreeByte = true;
        }
        if (tookThreeByte || i >= n || s[i] < 0x80)
            continue;
        const Decoded d = decodeUtf8(s, i, n);
        if (d.length == 0) {
            // Ill-formed from here: Qt's decoder decides how it is replaced.
            Text rest = encode(QString::fromUtf8(utf8.sliced(i)));
            std::memcpy(out.reserve(rest.size()), rest.constData(),
                        static_cast<size_t>(rest.size()));
            out.advance(rest.size());
            break;
        }
        out.putCodePoint(d.code, false);
        i += d.length;
    }
    return out.take();
}

qsizetype Cp936Codec::byteOffsetOfUnit(QByteArrayView bytes, qsizetype unitIndex) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    qsizetype units = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            if (units == unitIndex)
                return i;
            ++units;
            ++i;
            continue;
        }
        const Decoded d = decodeNonAscii(s, i, n, false);
        const int width = d.code >= 0x10000 ? 2 : 1;
        if (unitIndex < units + width)
            return i;
        units += width;
        i += d.length;
    }
    return n;
}

} // namespace pennaro

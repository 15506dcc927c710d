#include "runtime/core/cp936codec.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <random>
#include <string>

using pennaro::Cp936Codec;
using Breaks = Cp936Codec::LineBreaks;

namespace {

// iconv as the reference.
struct Converted {
    bool ok = false;
    QByteArray bytes;
};

class Reference final {
public:
    Reference(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Reference() { iconv_close(m_cd); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    Converted operator()(QByteArrayView in) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        QByteArray out(in.size() * 4 + 16, '\0');
        char* ip = const_cast<char*>(in.data());
        size_t il = static_cast<size_t>(in.size());
        char* op = out.data();
        size_t ol = static_cast<size_t>(out.size());
        if (iconv(m_cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0)
            return {};
        out.truncate(out.size() - static_cast<qsizetype>(ol));
        return {true, out};
    }

private:
    iconv_t m_cd;
};

Converted viaIconv(const char* to, const char* from, QByteArrayView in) {
    return Reference(to, from)(in);
}

QByteArray utf16le(QStringView s) {
    return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
}

QString fromUtf16le(const QByteArray& b) {
    return QString(reinterpret_cast<const QChar*>(b.constData()), b.size() / 2);
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

struct RoundTripCase {
    const char* name;
    QByteArray input;
};

const RoundTripCase kRoundTripCases[] = {
    {"utf8_byte_order_mark", bytes({0xEF, 0xBB, 0xBF, 'a', 'b'})},
    {"lone_line_feed", QByteArray("a\nb\n")},
    {"lone_carriage_return", QByteArray("a\rb\r")},
    {"crlf", QByteArray("a\r\nb\r\n")},
    {"cr_cr_lf", QByteArray("a\r\r\nb")},
    {"lf_cr", QByteArray("\n\r")},
    {"byte_80", bytes({0x80, 'x', 0x80})},
    {"byte_ff", bytes({0xFF, 0xFF, 'a'})},
    {"lead_then_ascii", bytes({0x81, 0x20, 0xFE, 'z'})},
    {"lone_lead_at_end", bytes({'a', 0xD6})},
    {"lone_lead_before_crlf", bytes({0xD6, '\r', '\n'})},
    {"user_defined_area", bytes({0xAA, 0xA1, 0xF8, 0xA1, 0xA1, 0x40})},
    {"trail_7f", bytes({0x81, 0x7F})},
    {"gbk_text", bytes({0xD6, 0xD0, 0xCE, 0xC4, 0xA1, 0xA1})},
    {"four_byte_emoji", bytes({0xD5, 0xC5, 0x94, 0x39, 0xFC, 0x36})},
    {"four_byte_cut_short", bytes({0x94, 0x39, 0xFC})},
    {"four_byte_outside_unicode", bytes({0xFE, 0x39, 0xFE, 0x39})},
    {"four_byte_digits_and_leads", bytes({0x81, 0x30, 0x81, 0x30, 0x81, 0x30})},
};

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, BytesComeBackExactlyInBothModes) {
    const QByteArray& in = GetParam().input;
    EXPECT_EQ(Cp936Codec::encode(Cp936Codec::decode(in)), in);
    EXPECT_EQ(Cp936Codec::encode(Cp936Codec::decode(in, Breaks::Widget), Breaks::Widget), in);
}

INSTANTIATE_TEST_SUITE_P(Edge, RoundTrip, testing::ValuesIn(kRoundTripCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Cp936Codec, EveryTwoByteCodeDecodesAsIconvSaysAndEncodesBack) {
    Reference reference("UTF-16LE", "CP936");
    int checked = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const QByteArray in = bytes({lead, trail});
            const Converted ref = reference(in);
            const QString ours = Cp936Codec::decode(in);
            if (ref.ok) {
                ASSERT_EQ(ours, fromUtf16le(ref.bytes)) << std::hex << lead << trail;
                ++checked;
            } else {
                // Not code page 936: each byte stands for itself.
                ASSERT_EQ(ours.at(0).unicode(), Cp936Codec::kRawByteBase + lead);
            }
            ASSERT_EQ(Cp936Codec::encode(ours), in) << std::hex << lead << trail;
        }
    }
    EXPECT_GT(checked, 21000);
}

TEST(Cp936Codec, CharactersOutsideCodePage936TakeTheirGb18030Form) {
    Reference toCp936("CP936", "UTF-16LE");
    Reference toGb18030("GB18030", "UTF-16LE");
    int formless = 0;
    // Every BMP character that code page 936 lacks, outside the raw-byte block.
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        if ((c >= 0xD800 && c <= 0xDFFF) || (c >= 0xF780 && c <= 0xF7FF))
            continue;
        const QString s(QChar(static_cast<char16_t>(c)));
        if (toCp936(utf16le(s)).ok)
            continue;
        const Converted ref = toGb18030(utf16le(s));
        if (!ref.ok) {
            // A few private-use code points that the system's GB18030 table leaves out.
            ASSERT_TRUE(c >= 0xE000 && c <= 0xF8FF) << std::hex << static_cast<quint32>(c);
            ++formless;
            continue;
        }
        ASSERT_EQ(Cp936Codec::encode(s), ref.bytes) << std::hex << static_cast<quint32>(c);
        if (ref.bytes.size() == 4) {
            ASSERT_EQ(Cp936Codec::decode(ref.bytes), s) << std::hex << static_cast<quint32>(c);
        }
    }
    EXPECT_LT(formless, 100) << formless;
    // Supplementary planes follow one formula; check both ends and an emoji against iconv.
    for (char32_t c : {char32_t(0x10000), char32_t(0x1F340), char32_t(0x10FFFF)}) {
        const QString s = QString::fromUcs4(&c, 1);
        EXPECT_EQ(Cp936Codec::encode(s), toGb18030(utf16le(s)).bytes);
        EXPECT_EQ(Cp936Codec::decode(Cp936Codec::encode(s)), s);
    }
}

TEST(Cp936Codec, RealNamesWithEmojiAndRareLettersSurvive) {
    const QString names[] = {u"张海楼🍀"_qs, u"尤尤呐ლ"_qs, u"阿玉么💨"_qs, u"雷霆半月斩º🌙"_qs};
    for (const QString& name : names) {
        const QByteArray encoded = Cp936Codec::encode(name);
        const Converted ref = viaIconv("GB18030", "UTF-16LE", utf16le(name));
        ASSERT_TRUE(ref.ok);
        EXPECT_EQ(encoded, ref.bytes);
        EXPECT_EQ(Cp936Codec::decode(encoded), name);
    }
    // The BMP part of a code page 936 name keeps its code page 936 bytes.
    EXPECT_EQ(Cp936Codec::encode(u"张😀"), bytes({0xD5, 0xC5, 0x94, 0x39, 0xFC, 0x36}));
}

TEST(Cp936Codec, WidgetModeMapsLineBreaksToWhatTheDocumentKeeps) {
    EXPECT_EQ(Cp936Codec::decode("a\r\nb", Breaks::Widget), u"a\u2029b"_qs);
    EXPECT_EQ(Cp936Codec::decode("a\nb", Breaks::Widget), u"a\u2028b"_qs);
    EXPECT_EQ(Cp936Codec::decode("a\rb", Breaks::Widget), u"a\uF70Db"_qs);
    EXPECT_EQ(Cp936Codec::decode("a\r\nb"), u"a\r\nb"_qs);
    // What the user types: Enter is a paragraph break, Shift+Enter a line separator.
    EXPECT_EQ(Cp936Codec::encode(u"x\u2029y\u2028z", Breaks::Widget), QByteArray("x\r\ny\nz"));
    // A four-byte form of a separator must not turn into a line break in a box.
    const QByteArray separatorForm = Cp936Codec::encode(u"\u2028");
    ASSERT_EQ(separatorForm.size(), 4);
    EXPECT_EQ(Cp936Codec::encode(Cp936Codec::decode(separatorForm, Breaks::Widget), Breaks::Widget),
              separatorForm);
    EXPECT_EQ(Cp936Codec::decode(separatorForm), u"\u2028"_qs);
}

TEST(Cp936Codec, PrivateUseTextFromOutsideNeverBecomesStructure) {
    // Only U+F780..U+F7FF stand for raw bytes: a page's U+F722 or U+F70A is a character, not a
    // quote or a line feed.
    for (char16_t c : {char16_t(0xF722), char16_t(0xF70A), char16_t(0xF70D), char16_t(0xF77F)}) {
        const QByteArray bytes = Cp936Codec::encode(QStringView(&c, 1));
        EXPECT_EQ(bytes.size(), 4) << std::hex << int(c);
        EXPECT_EQ(Cp936Codec::decode(bytes), QString(QChar(c)));
        EXPECT_EQ(Cp936Codec::fromUtf8(QString(QChar(c)).toUtf8()), bytes);
    }
    EXPECT_EQ(Cp936Codec::encode(u"\uF7A1"), QByteArray("\xA1"));
    // In a box a lone carriage return is U+F70D and goes back to "\r".
    EXPECT_EQ(Cp936Codec::encode(u"\uF70D", Breaks::Widget), QByteArray("\r"));
}

TEST(Cp936Codec, EncodingDropsWhatATextCannotHold) {
    EXPECT_EQ(Cp936Codec::encode(QStringView(u"a\0b", 3)), QByteArray("ab"));
    const char16_t loneHigh[] = {u'a', 0xD83D, u'b', 0};
    const char16_t loneLow[] = {0xDE00, u'c', 0};
    EXPECT_EQ(Cp936Codec::encode(QStringView(loneHigh)), QByteArray("ab"));
    EXPECT_EQ(Cp936Codec::encode(QStringView(loneLow)), QByteArray("c"));
}

TEST(Cp936Codec, LongAsciiAndMixedTextsMatchIconv) {
    // Long enough for the block paths, with non-ASCII at every alignment.
    QString s;
    for (int i = 0; i < 300; ++i) {
        s += QString::number(i);
        if (i % 7 == 0)
            s += u"中文";
        if (i % 11 == 0)
            s += u"\r\n";
    }
    const QByteArray gbk = viaIconv("CP936", "UTF-16LE", utf16le(s)).bytes;
    ASSERT_FALSE(gbk.isEmpty());
    EXPECT_EQ(Cp936Codec::encode(s), gbk);
    EXPECT_EQ(Cp936Codec::decode(gbk), s);
    for (int shift = 0; shift < 17; ++shift) {
        const QByteArray part = gbk.mid(shift);
        ASSERT_EQ(Cp936Codec::encode(Cp936Codec::decode(part, Breaks::Widget), Breaks::Widget),
                  part);
    }
}

TEST(Cp936Codec, RandomBytesRoundTrip) {
    std::mt19937 random(20261211);
    // Biased towards what makes trouble: leads, trails, digits of four-byte forms, line breaks.
    const int interesting[] = {0x0D, 0x0A, 0x30, 0x39, 0x80, 0x81, 0x84, 0x90,
                               0xA1, 0xD6, 0xE3, 0xFE, 0xFF, 0x40, 0x7F, 0x35};
    for (int round = 0; round < 20000; ++round) {
        QByteArray in;
        const int length = static_cast<int>(random() % 24);
        for (int k = 0; k < length; ++k) {
            int b = random() % 2 ? interesting[random() % std::size(interesting)]
                                 : static_cast<int>(random() % 255 + 1);
            in.append(static_cast<char>(b));
        }
        ASSERT_EQ(Cp936Codec::encode(Cp936Codec::decode(in)), in) << in.toHex().constData();
        ASSERT_EQ(Cp936Codec::encode(Cp936Codec::decode(in, Breaks::Widget), Breaks::Widget), in)
            << in.toHex().constData();
    }
}

TEST(Cp936Codec, FromUtf8AgreesWithDecodingThroughQt) {
    std::mt19937 random(11);
    // Well-formed text of every width, then ill-formed bytes mixed in.
    const char* pieces[] = {"a",
                            "\r\n",
                            "\xC3\xA9",
                            "\xE4\xB8\xAD",
                            "\xF0\x9F\x8D\x80",
                            "\xE1\x83\x9A",
                            "\xEF\xBB\xBF",
                            "\xE2\x80\xA8",
                            "0123456789abcdef",
                            "\x80",
                            "\xC0\xAF",
                            "\xED\xA0\x80",
                            "\xF4\x90\x80\x80",
                            "\xE4\xB8",
                            "\xFF"};
    for (int round = 0; round < 5000; ++round) {
        QByteArray in;
        const bool wellFormed = round % 2 == 0;
        const int count = static_cast<int>(random() % 40);
        for (int k = 0; k < count; ++k)
            in += pieces[random() % (wellFormed ? 9 : std::size(pieces))];
        ASSERT_EQ(Cp936Codec::fromUtf8(in), Cp936Codec::encode(QString::fromUtf8(in)))
            << in.toHex().constData();
    }
}

TEST(Cp936Codec, ByteOffsetOfUnitCountsCharactersOfEveryWidth) {
    // 中 (2 bytes, 1 unit), a (1, 1), 😀 (4 bytes, 2 units), b.
    const QByteArray text = Cp936Codec::encode(u"中a😀b");
    ASSERT_EQ(text.size(), 8);
    const qsizetype expected[] = {0, 2, 3, 3, 7, 8, 8};
    for (qsizetype unit = 0; unit < qsizetype(std::size(expected)); ++unit)
        EXPECT_EQ(Cp936Codec::byteOffsetOfUnit(text, unit), expected[unit]) << unit;
}

} // namespace

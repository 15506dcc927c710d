#include "runtime/core/textservices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace pennaro;

namespace {

// Byte-exact printing of failures: non-ASCII bytes as \xHH.
std::string shown(QByteArrayView bytes) {
    std::string out = "\"";
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out + "\"";
}

std::string shown(std::optional<int> value) {
    return value ? std::to_string(*value) : std::string("absent");
}

Bytes bytesOf(const char* data, qsizetype size) {
    return Bytes(data, size);
}

} // namespace

TEST(JoinTexts, JoinsInOrderAndIsNeverTheNullText) {
    EXPECT_EQ(joinTexts({"ab", "", QByteArrayView(), "c", "\xD6\xD0"}), Text("abc\xD6\xD0"));
    EXPECT_EQ(joinTexts({" @", "name"}), Text(" @name"));

    const Text bothEmpty = joinTexts({"", ""});
    EXPECT_TRUE(bothEmpty.isEmpty());
    EXPECT_FALSE(bothEmpty.isNull());
    EXPECT_FALSE(joinTexts({}).isNull());
}

TEST(ByteCount, CountsBytesOfTextsAndBytes) {
    EXPECT_EQ(byteCount(Text()), 0);
    EXPECT_EQ(byteCount(""), 0);
    EXPECT_EQ(byteCount("\xD6\xD0x"), 3);
    EXPECT_EQ(byteCount(bytesOf("a\0b\0", 4)), 4);
}

TEST(StripBlanks, RemovesSpacesAndFullWidthSpacesAtBothEndsOnly) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"", ""},
        {"  ab  ", "ab"},
        {"\xA1\xA1xy\xA1\xA1", "xy"},
        {" \xA1\xA1 x y\xA1\xA1z \xA1\xA1 ", "x y\xA1\xA1z"},
        {"\tab\n", "\tab\n"},
        {" \tab\r\n ", "\tab\r\n"},
        {"   ", ""},
        {"\xA1\xA1 \xA1\xA1", ""},
        // A two-byte character whose trail byte is a space or 0xA1 is no blank.
        {"\xB0 ", "\xB0 "},
        {"\xB0\xA1\xA1\xA1", "\xB0\xA1"},
        {" \xA1\xA2 ", "\xA1\xA2"},
        // A lone last lead byte is dropped, and the blanks before it stay.
        {"ab \xD6", "ab "},
        {"a\xA1\xA1\xA1", "a\xA1\xA1"},
        {" ab\xD6", "ab"},
        {"\xB0\xA1\xA1", "\xB0\xA1"},
        {"\xA1", ""},
        {"\xA1\xA1\xA1", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(stripBlanks(c.text), Text(c.expected)) << "text " << shown(c.text);
}

TEST(SearchText, FindsAtCharacterStartsFromTheStartPosition) {
    struct Case {
        const char* text;
        const char* sought;
        std::optional<int> start;
        bool caseInsensitive;
        int expected;
    };
    const std::nullopt_t none = std::nullopt;
    const Case cases[] = {
        // The empty sought text: 1 while a byte is left, whatever the start.
        {"abc", "", none, false, 1},
        {"abc", "", 3, false, 1},
        {"abc", "", 4, false, -1},
        {"abc", "", 0, false, 1},
        {"abc", "", -3, false, 1},
        {"", "", none, false, -1},
        {"", "", 0, false, -1},
        {"", "a", none, false, -1},
        // Start positions.
        {"abcabc", "bc", none, false, 2},
        {"abcabc", "bc", 2, false, 2},
        {"abcabc", "bc", 3, false, 5},
        {"abcabc", "bc", 6, false, -1},
        {"abcabc", "bc", 7, false, -1},
        {"abcabc", "bc", 0, false, 2},
        {"abcabc", "bc", INT_MAX, false, -1},
        {"ab", "abc", none, false, -1},
        // Case: ASCII letters only, byte by byte.
        {"xabc", "ABC", none, true, 2},
        {"xabc", "ABC", none, false, -1},
        {"a[", "A{", none, true, -1},
        {"\xC1\xA1", "\xE1\xA1", none, true, -1},
        {"\xB0z", "\xB0Z", none, true, 1},
        {"\xB0z", "\xB0Z", none, false, -1},
        // Never inside a two-byte character that the walk stepped over.
        {"\xD6\xD0\xCE\xC4", "\xD0\xCE", none, false, -1},
        {"\xD6\xD0\xCE\xC4", "\xCE\xC4", none, false, 3},
        {"\xB0ZZ", "Z", none, false, 3},
        {"\xB0\xB0Z", "\xB0Z", none, false, -1},
        // A start on a trail byte compares there, and the walk steps on from that byte.
        {"\xB0Zx", "Zx", 2, false, 2},
        {"\xB0\xB0Z", "\xB0Z", 2, false, 2},
        {"\xB0\xB0\xB0Z", "\xB0Z", 2, false, -1},
        // A lone last lead byte is still compared.
        {"ab\xD6", "\xD6", none, false, 3},
        {"\xB0\xD6", "\xD6", none, false, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(searchText(c.text, c.sought, c.start, c.caseInsensitive), c.expected)
            << "text " << shown(c.text) << ", sought " << shown(c.sought) << ", start "
            << shown(c.start) << ", caseInsensitive " << c.caseInsensitive;
    }
}

// Against other formulations on many small texts full of lead bytes: the first hit of
// QByteArray::indexOf that stands at a character start, and for the case-insensitive search the
// case-sensitive one over copies lowered by Qt (ASCII only).
TEST(SearchText, AgreesWithIndexOfAtCharacterStartsAndWithLoweredCopies) {
    const char alphabet[] = {'a', 'b', 'A', 'B', ' ', '\xB0', '\xA1', '\xD6'};
    std::mt19937 random(936);
    auto randomText = [&](int maxLength) {
        Text text;
        const int length = static_cast<int>(random() % static_cast<unsigned>(maxLength + 1));
        for (int i = 0; i < length; ++i)
            text.append(alphabet[random() % sizeof alphabet]);
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        const Text text = randomText(10);
        const Text sought = randomText(3);
        const int start = static_cast<int>(random() % 13) - 1;
        const qsizetype from = std::max(start, 1) - 1;

        std::vector<bool> characterStart(static_cast<size_t>(text.size()), false);
        for (qsizetype i = from; i < text.size(); i += static_cast<uchar>(text[i]) >= 0x80 ? 2 : 1)
            characterStart[static_cast<size_t>(i)] = true;
        int expected = -1;
        if (sought.isEmpty()) {
            expected = from < text.size() ? 1 : -1;
        } else {
            for (qsizetype hit = text.indexOf(sought, from); hit >= 0;
                 hit = text.indexOf(sought, hit + 1)) {
                if (characterStart[static_cast<size_t>(hit)]) {
                    expected = static_cast<int>(hit + 1);
                    break;
                }
            }
        }
        ASSERT_EQ(searchText(text, sought, start, false), expected)
            << "text " << shown(text) << ", sought " << shown(sought) << ", start " << start;
        ASSERT_EQ(searchText(text, sought, start, true),
                  searchText(text.toLower(), sought.toLower(), start, false))
            << "text " << shown(text) << ", sought " << shown(sought) << ", start " << start;
    }
}

TEST(SubstituteText, ReplacesFromTheStartUpToTheCount) {
    struct Case {
        const char* text;
        const char* sought;
        std::optional<const char*> replacement;
        std::optional<int> start;
        std::optional<int> count;
        bool caseSensitive;
        const char* expected;
    };
    const std::nullopt_t none = std::nullopt;
    const Case cases[] = {
        {"aaa", "a", "aa", none, none, false, "aaaaaa"},
        {"aXa", "a", "aa", none, 1, false, "aaXa"},
        {"abab", "ab", "x", none, 1, false, "xab"},
        {"abab", "ab", "x", none, -1, false, "xx"},
        {"abab", "ab", "x", none, 0, false, "abab"},
        {"abab", "", "x", none, none, false, "abab"},
        {"", "a", "x", none, none, false, ""},
        {"a-b-c", "-", none, none, none, false, "abc"},
        {"a-b-c", "-", "", none, none, false, "abc"},
        // Case: insensitive unless asked, ASCII letters only.
        {"ABab", "ab", "x", none, none, false, "xx"},
        {"ABab", "ab", "x", none, none, true, "ABx"},
        {"\xC1\xA1", "\xE1\xA1", "x", none, none, false, "\xC1\xA1"},
        // Start positions.
        {"abab", "ab", "x", 2, none, false, "abx"},
        {"abab", "ab", "x", 0, none, false, "xx"},
        {"abab", "ab", "x", -3, none, false, "xx"},
        {"abab", "ab", "x", 4, none, false, "abab"},
        {"abab", "ab", "x", 5, none, false, "abab"},
        // Characters: no match inside one, and a start on a trail byte compares there.
        {"\xD6\xD0\xCE\xC4", "\xD0\xCE", "x", none, none, false, "\xD6\xD0\xCE\xC4"},
        {"\xB0ZZ", "Z", "x", none, none, false, "\xB0Zx"},
        {"\xB0ZZ", "Z", "x", 2, none, false, "\xB0xx"},
        // A lone last lead byte is dropped where the scan copies it, kept in the rest copied.
        {"ab\xD6", "b", "x", none, none, false, "ax"},
        {"a\xD6", "zz", "x", none, none, false, "a\xD6"},
        {"ab\xD6", "a", "x", none, 1, false, "xb\xD6"},
    };
    for (const Case& c : cases) {
        const std::optional<QByteArrayView> replacement =
            c.replacement ? std::optional<QByteArrayView>(*c.replacement) : std::nullopt;
        EXPECT_EQ(substituteText(c.text, c.sought, replacement, c.start, c.count, c.caseSensitive),
                  Text(c.expected))
            << "text " << shown(c.text) << ", sought " << shown(c.sought) << ", start "
            << shown(c.start) << ", count " << shown(c.count) << ", caseSensitive "
            << c.caseSensitive;
    }
}

TEST(FormatInteger, MatchesTheStandardLibrary) {
    for (const qint32 value : {0, 5, -5, 10, 100, -2147483647, INT_MIN, INT_MAX})
        EXPECT_EQ(formatInteger(value), Text(std::to_string(value).c_str())) << value;
}

TEST(HexOf, IsUpperCaseTwosComplementWithoutPadding) {
    for (const qint32 value : {0, 9, 10, 255, 0xABCDEF, -1, INT_MIN, INT_MAX}) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%X", static_cast<unsigned>(value));
        EXPECT_EQ(hexOf(value), Text(expected)) << value;
    }
    EXPECT_EQ(hexOf(-1), Text("FFFFFFFF"));
}

TEST(ByteToChar, GivesOneByteTextsAndNothingForZero) {
    EXPECT_TRUE(byteToChar(0).isEmpty());
    for (int b = 1; b < 256; ++b) {
        const Text text = byteToChar(static_cast<quint8>(b));
        ASSERT_EQ(text.size(), 1) << b;
        EXPECT_EQ(static_cast<uchar>(text[0]), b);
    }
}

TEST(TextBytesConversion, BytesBecomeTextUpToTheFirstZero) {
    EXPECT_EQ(bytesToText(bytesOf("A\0B", 3)), Text("A"));
    EXPECT_TRUE(bytesToText(bytesOf("\0A", 2)).isEmpty());
    EXPECT_TRUE(bytesToText(Bytes()).isEmpty());
    EXPECT_EQ(bytesToText("\xD6\xD0\r\n\xFF"), Text("\xD6\xD0\r\n\xFF"));

    EXPECT_TRUE(textToBytes(Text()).isEmpty());
    EXPECT_EQ(textToBytes("\xD6\xD0\r\n\x80"), bytesOf("\xD6\xD0\r\n\x80", 5));
}

TEST(RemainderOf, IsTheTruncatedRemainder) {
    struct Case {
        double dividend;
        double divisor;
        double expected;
    };
    const Case cases[] = {
        {10, 5, 0}, {7, 5, 2}, {-7, 5, -2}, {4, 5, 4}, {7.5, 5, 2.5}, {-12.5, 5, -2.5}, {7, -5, 2},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(remainderOf(c.dividend, c.divisor), c.expected)
            << c.dividend << " / " << c.divisor;
}

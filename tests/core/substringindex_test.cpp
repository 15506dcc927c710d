#include "runtime/core/substringindex.h"
#include "runtime/core/textservices.h"

#include <gtest/gtest.h>

#include <random>

using pennaro::SubstringIndex;
using pennaro::Text;

namespace {

bool searchFinds(const Text& text, QByteArrayView sought) {
    return pennaro::searchText(text, sought, std::nullopt, false) != -1;
}

TEST(SubstringIndex, AnswersLikeSearchTextOnTheCasesThatMatter) {
    struct Case {
        const char* text;
        const char* sought;
    };
    const Case cases[] = {
        {"", ""},           {"a", ""},           {" @abc", "abc"},    {" @abc", "ab"},
        {" @abc", "bc"},    {" @abc", "ABC"},    {" @abcd @efgh", "cd @e"},
        {"\xD6\xD0\xCE\xC4", "\xD0\xCE"},        // bytes across two characters: no match
        {"\xD6\xD0\xCE\xC4", "\xCE\xC4"},        {"x\xD6", "\xD6"}, // lone last lead byte
        {"abcdefgh", "abcdefghi"},               {"abcabcabcd", "abcd"},
    };
    for (const Case& c : cases) {
        SubstringIndex index;
        index.assign(Text(c.text));
        EXPECT_EQ(index.contains(c.sought), searchFinds(c.text, c.sought))
            << c.text << " / " << c.sought;
    }
}

TEST(SubstringIndex, AgreesWithSearchTextWhileTheTextGrows) {
    std::mt19937 random(7);
    // A small alphabet with lead bytes makes partial and misaligned matches common.
    const char alphabet[] = {'a', 'b', ' ', '@', '\r', '\n', '\xD6', '\xD0', '\x81', '\x30'};
    auto randomText = [&](int maxLength) {
        Text t;
        const int length = static_cast<int>(random() % (maxLength + 1));
        for (int k = 0; k < length; ++k)
            t.append(alphabet[random() % std::size(alphabet)]);
        return t;
    };
    for (int round = 0; round < 300; ++round) {
        SubstringIndex index;
        index.assign(randomText(40));
        Text mirror = index.text();
        for (int step = 0; step < 60; ++step) {
            const Text piece = randomText(12);
            index.append(piece);
            mirror.append(piece);
            ASSERT_EQ(index.text(), mirror);
            for (int probe = 0; probe < 5; ++probe) {
                // Sought texts taken from the text itself (at any offset) and random ones.
                Text sought;
                if (random() % 2 && mirror.size() > 0) {
                    const qsizetype from = random() % mirror.size();
                    sought = mirror.mid(from, 1 + random() % 9);
                } else {
                    sought = randomText(9);
                }
                ASSERT_EQ(index.contains(sought), searchFinds(mirror, sought))
                    << mirror.toHex().constData() << " / " << sought.toHex().constData();
            }
        }
    }
}

TEST(SubstringIndex, FindsNamesInALargeList) {
    SubstringIndex index;
    Text list;
    for (int i = 0; i < 200000; ++i)
        list += " @user" + QByteArray::number(i * 7919 % 1000003);
    index.assign(list);
    EXPECT_TRUE(index.contains("user" + QByteArray::number(1234 * 7919 % 1000003)));
    EXPECT_FALSE(index.contains("user-1"));
    index.append(" @\xD5\xC5\xC8\xFD");
    EXPECT_TRUE(index.contains("\xD5\xC5\xC8\xFD"));
    EXPECT_FALSE(index.contains("\xC5\xC8"));
}

} // namespace

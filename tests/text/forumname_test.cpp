#include "text/forumname.h"

#include "runtime/core/cp936codec.h"
#include "tests/text/textprinting.h"

#include <gtest/gtest.h>

#include <QString>
#include <QUrl>

using pennaro::ansiToUtf16;
using pennaro::Bytes;
using pennaro::cp936;
using pennaro::encodeForumName;
using pennaro::gbkToUtf8;
using pennaro::Text;
using pennaro::utf16ToMultiByte;

namespace {

struct EncodeCase {
    const char* name;
    Text forumName;
    bool keepPlain;
    QByteArray expected;
};

void PrintTo(const EncodeCase& c, std::ostream* os) {
    *os << c.name;
}

class ForumNameEncoding : public testing::TestWithParam<EncodeCase> {};

TEST_P(ForumNameEncoding, GivesTheExpectedQueryValue) {
    const EncodeCase& c = GetParam();
    EXPECT_EQ(encodeForumName(c.forumName, c.keepPlain), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForumNameEncoding,
    testing::Values(EncodeCase{"Chinese", Text("\xD6\xD0\xCE\xC4"), true, "%E4%B8%AD%E6%96%87"},
                    EncodeCase{"Space", " ", true, "%20"},
                    EncodeCase{"Underscore", "_", true, "%5F"},
                    EncodeCase{"Plus", "+", true, "%2B"}, EncodeCase{"Tilde", "~", true, "%7E"},
                    EncodeCase{"TabHasTwoDigits", "\t", true, "%09"},
                    EncodeCase{"PlainCharacters", "Python3,a-b.c/d", true, "Python3,a-b.c/d"},
                    EncodeCase{"RangeEdges", "+,9:@AZ[`az{", true, "%2B,9%3A%40AZ%5B%60az%7B"},
                    EncodeCase{"NothingTrimmed", " ab ", true, "%20ab%20"},
                    EncodeCase{"KeepPlainFalse", "ab", false, "%61%62"},
                    EncodeCase{"Empty", "", true, ""},
                    EncodeCase{"FourByteForm", cp936(u"ლ"), true, "%E1%83%9A"},
                    EncodeCase{"Emoji", cp936(u"a😀"), true, "a%F0%9F%98%80"}),
    [](const testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.name); });

// What the query value should be, built by Qt from the name's characters.
QByteArray reference(const QString& name, bool keepPlain) {
    const QByteArray utf8 = name.toUtf8();
    if (keepPlain)
        return utf8.toPercentEncoding(",/", "_~");
    return utf8.isEmpty() ? QByteArray() : '%' + utf8.toHex('%').toUpper();
}

TEST(ForumNameEncoding, AgreesWithQtForEveryAsciiCharacter) {
    for (char16_t c = 1; c < 0x80; ++c) {
        const QString name = QString(QChar(c)) + QChar(u'x');
        for (const bool keepPlain : {true, false}) {
            SCOPED_TRACE(testing::Message() << int(c) << (keepPlain ? " plain" : " escaped"));
            EXPECT_EQ(encodeForumName(cp936(name), keepPlain), reference(name, keepPlain));
        }
    }
}

TEST(ForumNameEncoding, AgreesWithQtForRealNames) {
    const QString names[] = {u"李毅"_qs,         u"盗墓笔记"_qs, u"贴吧用户_aD8X3Da"_qs,
                             u"尤尤呐ლ"_qs,      u"阿玉么💨"_qs,  u"雷霆半月斩º🌙"_qs,
                             u"ｆｕｌｌ　宽"_qs, u"€ é ß"_qs,    u"a+b=c&d%e"_qs};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        for (const bool keepPlain : {true, false}) {
            const QByteArray encoded = encodeForumName(cp936(name), keepPlain);
            EXPECT_EQ(encoded, reference(name, keepPlain));
            EXPECT_EQ(QUrl::fromPercentEncoding(encoded), name);
        }
    }
}

TEST(ForumNameEncoding, RunsTheEventsOncePerByte) {
    for (const QString& name : {u""_qs, u"ab"_qs, u"中文"_qs, u"😀 x"_qs}) {
        int runs = 0;
        const Text encoded = encodeForumName(cp936(name), true, [&runs] { ++runs; });
        EXPECT_EQ(runs, name.toUtf8().size()) << name.toStdString();
        EXPECT_EQ(QUrl::fromPercentEncoding(encoded), name);
    }
}

TEST(Utf8Conversion, GivesTheCharactersOfTheName) {
    const QString name = u"中文 ლ😀 a"_qs;
    EXPECT_EQ(gbkToUtf8(cp936(name)), name.toUtf8());
    EXPECT_EQ(gbkToUtf8(""), QByteArray());
}

TEST(Utf16Conversion, EndsWithOneZeroUnit) {
    const Bytes units = ansiToUtf16(cp936(u"中a😀"), 936);
    EXPECT_EQ(units, QByteArray("\x2D\x4E"
                                "a\0"
                                "\x3D\xD8\x00\xDE"
                                "\0\0",
                                10));
    EXPECT_EQ(ansiToUtf16("", 936), QByteArray(2, '\0'));
    EXPECT_EQ(ansiToUtf16(u"é"_qs.toUtf8(), 65001), QByteArray("\xE9\0\0\0", 4));
    EXPECT_EQ(ansiToUtf16("a", 12345), Bytes());
}

TEST(Utf16Conversion, EncodesUpToTheFirstZeroUnit) {
    const Text name = cp936(u"中文ლ😀");
    EXPECT_EQ(utf16ToMultiByte(ansiToUtf16(name, 936), 936), name);
    EXPECT_EQ(utf16ToMultiByte(ansiToUtf16(name, 936), 65001), u"中文ლ😀"_qs.toUtf8());
    EXPECT_EQ(utf16ToMultiByte(QByteArray("a\0\0\0b\0", 6), 65001), "a");
    EXPECT_EQ(utf16ToMultiByte(QByteArray("a\0b", 3), 65001), "a");
    EXPECT_EQ(utf16ToMultiByte(Bytes(), 65001), Text());
    EXPECT_EQ(utf16ToMultiByte(QByteArray("a\0", 2), 12345), Text());
}

} // namespace

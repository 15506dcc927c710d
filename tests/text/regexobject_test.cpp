#include "text/regexobject.h"

#include "runtime/core/cp936codec.h"
#include "tests/text/textprinting.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using pennaro::cp936;
using pennaro::RegexObject;
using pennaro::Text;

namespace {

std::vector<Text> allMatches(const RegexObject& regex) {
    std::vector<Text> out;
    for (int i = 1; i <= regex.matchCount(); ++i)
        out.push_back(regex.matchText(i));
    return out;
}

TEST(RegexObject, BeforeAnyRunEverythingIsEmpty) {
    RegexObject regex;
    EXPECT_EQ(regex.patternText(), Text());
    EXPECT_EQ(regex.matchCount(), 0);
    EXPECT_EQ(regex.subMatchCount(), 0);
    EXPECT_EQ(regex.replaceMatches("x"), Text());
    int position = 7;
    EXPECT_EQ(regex.matchText(1, &position), Text());
    EXPECT_EQ(position, RegexObject::kNoPosition);
}

struct OptionCase {
    const char* name;
    Text pattern;
    Text subject;
    std::optional<bool> caseSensitive;
    std::optional<bool> multiline;
    std::optional<bool> global;
    std::vector<Text> expected;
};

void PrintTo(const OptionCase& c, std::ostream* os) {
    *os << c.name;
}

class RegexOptions : public testing::TestWithParam<OptionCase> {};

TEST_P(RegexOptions, FindsExactlyTheExpectedMatches) {
    const OptionCase& c = GetParam();
    RegexObject regex;
    ASSERT_TRUE(
        regex.compileAndExecute(c.pattern, c.subject, c.caseSensitive, c.multiline, c.global));
    EXPECT_EQ(allMatches(regex), c.expected);
    EXPECT_EQ(regex.patternText(), c.pattern);
}

const std::nullopt_t kAbsent = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexOptions,
    testing::Values(
        OptionCase{"NoMatchIsStillASuccess", "zz", "abc", kAbsent, kAbsent, kAbsent, {}},
        OptionCase{"IgnoresCaseByDefault", "abc", "xABCx", kAbsent, kAbsent, kAbsent, {"ABC"}},
        OptionCase{"CaseSensitiveFalse", "abc", "xABCx", false, kAbsent, kAbsent, {"ABC"}},
        OptionCase{"CaseSensitiveTrue", "abc", "xABCx", true, kAbsent, kAbsent, {}},
        OptionCase{"MultilineByDefault", "^b.$", "a\nbc\nd", kAbsent, kAbsent, kAbsent, {"bc"}},
        OptionCase{"MultilineFalse", "^b.$", "a\nbc\nd", kAbsent, false, kAbsent, {}},
        OptionCase{"DollarOnlyAtVeryEnd", "c$", "abc\n", kAbsent, false, kAbsent, {}},
        OptionCase{"DollarAtEnd", "c$", "abc", kAbsent, false, kAbsent, {"c"}},
        OptionCase{"OnlyLineFeedBreaksLines", "^b", "a\rb", kAbsent, kAbsent, kAbsent, {}},
        OptionCase{
            "GlobalByDefault", "a.", "a1a2a3", kAbsent, kAbsent, kAbsent, {"a1", "a2", "a3"}},
        OptionCase{"GlobalFalse", "a.", "a1a2a3", kAbsent, kAbsent, false, {"a1"}},
        OptionCase{"DotMatchesCarriageReturn", "a.b", "a\rb", kAbsent, kAbsent, kAbsent, {"a\rb"}},
        OptionCase{"DotStopsAtLineFeed", "a.b", "a\nb", kAbsent, kAbsent, kAbsent, {}},
        OptionCase{
            "ResumesAfterPreviousMatch", "aa", "aaaaa", kAbsent, kAbsent, kAbsent, {"aa", "aa"}},
        OptionCase{
            "EmptyMatchesAdvance", "x*", "axxb", kAbsent, kAbsent, kAbsent, {"", "xx", "", ""}},
        OptionCase{"ChineseText",
                   cp936(u"作者(.)"),
                   cp936(u"主题作者甲，作者乙"),
                   kAbsent,
                   kAbsent,
                   kAbsent,
                   {cp936(u"作者甲"), cp936(u"作者乙")}}),
    [](const testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

TEST(RegexObject, LazyGroupTakesTheShortestTextOnOneLine) {
    const Text left = cp936(u"主题作者:");
    RegexObject regex;
    ASSERT_TRUE(regex.compileAndExecute(left + "(.*?)\"", left + "abc\" x=\"1\" " + left +
                                                              cp936(u"小明") + "\"\n" + left +
                                                              "broken\n\"" + left + "\""));
    ASSERT_EQ(regex.matchCount(), 3);
    EXPECT_EQ(regex.subMatchCount(), 1);
    EXPECT_EQ(regex.subMatchText(1, 1), "abc");
    EXPECT_EQ(regex.subMatchText(2, 1), cp936(u"小明"));
    EXPECT_EQ(regex.subMatchText(3, 1), Text());
    EXPECT_EQ(regex.matchText(3), left + "\"");
}

TEST(RegexObject, MalformedPatternFailsWithoutMatches) {
    for (const char* pattern : {"a\\(.*?)b", "a(", "[a"}) {
        SCOPED_TRACE(pattern);
        RegexObject regex;
        ASSERT_TRUE(regex.compileAndExecute("a", "aaa"));
        EXPECT_FALSE(regex.compileAndExecute(pattern, "a(xb"));
        EXPECT_EQ(regex.matchCount(), 0);
        EXPECT_EQ(regex.subMatchCount(), 0);
        EXPECT_EQ(regex.matchText(1), Text());
        EXPECT_EQ(regex.replaceMatches("x"), Text());
    }
}

TEST(RegexObject, RunawayBacktrackingEndsAsFailure) {
    RegexObject regex;
    EXPECT_FALSE(regex.compileAndExecute("^(a+)+$", Text(40, 'a') + "!"));
    EXPECT_EQ(regex.matchCount(), 0);
}

TEST(RegexObject, IndexesOutsideTheMatchesGiveNothing) {
    RegexObject regex;
    ASSERT_TRUE(regex.compileAndExecute("(a)(b)?", "a-ab"));
    ASSERT_EQ(regex.matchCount(), 2);
    EXPECT_EQ(regex.subMatchCount(), 2);
    struct Probe {
        int index;
        int subIndex; // 0: the whole match
    };
    for (const Probe p : {Probe{0, 0}, Probe{3, 0}, Probe{-1, 0}, Probe{0, 1}, Probe{3, 1},
                          Probe{1, -1}, Probe{1, 3}, Probe{1, 2}}) {
        SCOPED_TRACE(testing::Message() << p.index << "/" << p.subIndex);
        int position = 99;
        const Text text = p.subIndex == 0 ? regex.matchText(p.index, &position)
                                          : regex.subMatchText(p.index, p.subIndex, &position);
        EXPECT_EQ(text, Text());
        EXPECT_EQ(position, RegexObject::kNoPosition);
    }
    // Group 2 takes part only in the second match.
    EXPECT_EQ(regex.subMatchText(2, 2), "b");
}

struct PositionCase {
    const char* name;
    Text pattern;
    Text subject;
    int index;
    int subIndex; // 0: the whole match
    Text expectedText;
    int expectedPosition;
};

void PrintTo(const PositionCase& c, std::ostream* os) {
    *os << c.name;
}

class RegexPositions : public testing::TestWithParam<PositionCase> {};

TEST_P(RegexPositions, ReportsTheByteOffsetInTheSubject) {
    const PositionCase& c = GetParam();
    RegexObject regex;
    ASSERT_TRUE(regex.compileAndExecute(c.pattern, c.subject));
    int position = 99;
    const Text text = c.subIndex == 0 ? regex.matchText(c.index, &position)
                                      : regex.subMatchText(c.index, c.subIndex, &position);
    EXPECT_EQ(text, c.expectedText);
    EXPECT_EQ(position, c.expectedPosition);
    if (position >= 0) {
        EXPECT_EQ(c.subject.mid(position, text.size()), text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexPositions,
    testing::Values(
        PositionCase{"SecondOfTwoEqualMatches", "a", "aa", 2, 0, "a", 1},
        PositionCase{"AfterTwoByteCharacters", cp936(u"文"), cp936(u"中文中文"), 2, 0, cp936(u"文"),
                     6},
        // U+1F600 and U+10DA take GB18030 four-byte forms, and two and one UTF-16 units.
        PositionCase{"AfterFourByteForms", "b", cp936(u"😀ლ中ab"), 1, 0, "b", 11},
        PositionCase{"SubMatchItself", cp936(u"者:(.*?)\""), cp936(u"😀主题作者:乙\""), 1, 1,
                     cp936(u"乙"), 13},
        PositionCase{"SecondGroup", "<(a)(b)>", "xx<ab>", 1, 2, "b", 4},
        PositionCase{"GroupThatTookNoPart", "(a)|(b)", "b", 1, 1, Text(), RegexObject::kNoPosition},
        PositionCase{"OtherGroupTookPart", "(a)|(b)", "b", 1, 2, "b", 0},
        PositionCase{"EmptyMatch", "x*", "ab", 2, 0, Text(), 1},
        PositionCase{"EmptyMatchAtEnd", "x*", "ab", 3, 0, Text(), 2}),
    [](const testing::TestParamInfo<PositionCase>& info) { return std::string(info.param.name); });

TEST(RegexObject, SubMatchIsExactlyTheSubjectBytes) {
    // A byte that code page 936 does not decode, a GB18030 four-byte form of U+0080, a CR.
    const Text between("\xFF\x81\x30\x81\x30\r\xA1\xA1x");
    RegexObject regex;
    ASSERT_TRUE(regex.compileAndExecute("<(.*?)>", "<" + between + ">"));
    ASSERT_EQ(regex.matchCount(), 1);
    EXPECT_EQ(regex.subMatchText(1, 1), between);
}

struct ReplaceCase {
    const char* name;
    Text pattern;
    Text subject;
    Text replacement;
    Text expected;
    std::optional<bool> global = std::nullopt;
};

void PrintTo(const ReplaceCase& c, std::ostream* os) {
    *os << c.name;
}

class RegexReplace : public testing::TestWithParam<ReplaceCase> {};

TEST_P(RegexReplace, FollowsTheJScriptReplacementRules) {
    const ReplaceCase& c = GetParam();
    RegexObject regex;
    ASSERT_TRUE(
        regex.compileAndExecute(c.pattern, c.subject, std::nullopt, std::nullopt, c.global));
    EXPECT_EQ(regex.replaceMatches(c.replacement), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexReplace,
    testing::Values(ReplaceCase{"Group", "(\\d)", "a1b2", "[$1]", "a[1]b[2]"},
                    ReplaceCase{"NotGlobal", "(\\d)", "a1b2", "[$1]", "a[1]b2", false},
                    ReplaceCase{"WholeMatch", "b", "abc", "$&$&", "abbc"},
                    ReplaceCase{"BeforeAndAfter", "b", "abc", "<$`|$'>", "a<a|c>c"},
                    ReplaceCase{"Dollar", "b", "abc", "$$1", "a$1c"},
                    ReplaceCase{"LoneDollars", "b", "abc", "$x$", "a$x$c"},
                    ReplaceCase{"MissingGroupIsLiteral", "(b)", "abc", "$2$0", "a$2$0c"},
                    ReplaceCase{"OneDigitWhenTwoNameNoGroup", "(b)", "abc", "$10", "ab0c"},
                    ReplaceCase{"LeadingZero", "(b)", "abc", "$01", "abc"},
                    ReplaceCase{"TwoDigitGroup", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "abcdefghij",
                                "$10$1", "ja"},
                    ReplaceCase{"GroupThatTookNoPart", "(a)|(b)", "b", "<$1$2>", "<b>"},
                    ReplaceCase{"IgnoresCase", "b", "ABC", "x", "AxC"},
                    ReplaceCase{"EmptyMatches", "x*", "ab", "-", "-a-b-"},
                    ReplaceCase{"EmptyReplacementDeletes", "b", "abcb", "", "ac"},
                    ReplaceCase{"ChineseText", cp936(u"(文)"), cp936(u"中文😀"), cp936(u"$1字"),
                                cp936(u"中文字😀")}),
    [](const testing::TestParamInfo<ReplaceCase>& info) { return std::string(info.param.name); });

TEST(RegexObject, CopySharesTheMatchesOfItsMoment) {
    RegexObject regex;
    ASSERT_TRUE(regex.compileAndExecute("(b)", cp936(u"中b")));
    const RegexObject copy(regex);
    const std::unique_ptr<RegexObject> clone = regex.clone();
    ASSERT_TRUE(regex.compileAndExecute("z", "z"));

    for (const RegexObject* r : {&copy, static_cast<const RegexObject*>(clone.get())}) {
        EXPECT_EQ(r->patternText(), "(b)");
        ASSERT_EQ(r->matchCount(), 1);
        int position = 0;
        EXPECT_EQ(r->subMatchText(1, 1, &position), "b");
        EXPECT_EQ(position, 2);
        EXPECT_EQ(r->replaceMatches("$1$1"), cp936(u"中bb"));
    }
    EXPECT_EQ(regex.matchText(1), "z");
}

} // namespace

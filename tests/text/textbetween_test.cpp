#include "text/textbetween.h"

#include "runtime/core/cp936codec.h"
#include "runtime/core/textservices.h"
#include "text/regexobject.h"
#include "tests/text/textprinting.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QString>

#include <optional>
#include <random>
#include <vector>

using pennaro::cp936;
using pennaro::Cp936Codec;
using pennaro::escapeMarker;
using pennaro::extractBetween;
using pennaro::replaceFivePairs;
using pennaro::Text;
using pennaro::TextArray;

namespace {

const Text kAuthor = cp936(u"主题作者:");

struct ExtractCase {
    const char* name;
    Text subject;
    Text left;
    Text right;
    TextArray expected;
    int maxLength = 0;
    Text prefix = {};
    Text suffix = {};
    bool includeLeft = false;
    bool includeRight = false;
};

void PrintTo(const ExtractCase& c, std::ostream* os) {
    *os << c.name;
}

class ExtractBetween : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractBetween, EmptiesTheResultAndCollectsEveryItem) {
    const ExtractCase& c = GetParam();
    TextArray result{"left over", "from before"};
    const int count = extractBetween(c.subject, c.left, c.right, result, c.maxLength, c.prefix,
                                     c.suffix, c.includeLeft, c.includeRight);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(count, c.expected.size());
}

// A code page 936 character whose second byte is "[" and one whose second byte is "{".
const Text kTrailBracket("\x81\x5B");
const Text kTrailBrace("\x81\x7B");

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractBetween,
    testing::Values(
        ExtractCase{"TwoItemsInOrder",
                    kAuthor + "abc\" title " + kAuthor + "de\"",
                    kAuthor,
                    "\"",
                    {"abc", "de"}},
        ExtractCase{"SecondLeftInsideTheItem",
                    kAuthor + "a" + kAuthor + "b\"",
                    kAuthor,
                    "\"",
                    {"a" + kAuthor + "b"}},
        ExtractCase{"RightMarkerBeyondALineFeed",
                    kAuthor + "lost\n\"" + kAuthor + cp936(u"小明") + "\"",
                    kAuthor,
                    "\"",
                    {cp936(u"小明")}},
        ExtractCase{"CarriageReturnsAreOnTheLine",
                    kAuthor + "a\r\r\nb\"\r\r\n" + kAuthor + "c\r\"",
                    kAuthor,
                    "\"",
                    {"c\r"}},
        ExtractCase{"EmptyItem", kAuthor + "\"", kAuthor, "\"", {""}},
        ExtractCase{"EmptySubject", "", kAuthor, "\"", {}},
        ExtractCase{"NoLeftMarker", "title=\"x\"", kAuthor, "\"", {}},
        ExtractCase{"IgnoresCase", "AUTHOR=x; author=y;", "Author=", ";", {"x", "y"}},
        ExtractCase{"SyntaxInMarkersIsLiteral", "ab (a)x[b] {(a)}y[b]?", "(a)", "[b]", {"x", "}y"}},
        ExtractCase{"FullStopKeepsItsMeaning", "aXb1;a.b2;", "a.b", ";", {"1", "2"}},
        ExtractCase{"MarkerEndingInBackslashFindsNothing", "a\\x\"", "a\\", "\"", {}},
        ExtractCase{"TrailBytesAreNotSyntax",
                    kTrailBracket + "x" + kTrailBrace,
                    kTrailBracket,
                    kTrailBrace,
                    {"x"}},
        ExtractCase{"FourByteForms", "<" + cp936(u"ლ😀") + "><>", "<", ">", {cp936(u"ლ😀"), ""}},
        ExtractCase{"MaxLengthCountsBytes",
                    "<" + cp936(u"中文") + "><" + cp936(u"中文") + "a>",
                    "<",
                    ">",
                    {cp936(u"中文")},
                    4},
        ExtractCase{"NegativeMaxLengthDropsAll", "<a><>", "<", ">", {}, -1},
        ExtractCase{"PrefixAndSuffix", "<a><>", "<", ">", {"[a]", "[]"}, 0, "[", "]"},
        ExtractCase{"LengthTestBeforePrefix", "<ab><abc>", "<", ">", {"[ab]"}, 2, "[", "]"},
        ExtractCase{
            "BothMarkersWithoutMax", "((a))", "((", "))", {"((-a-))"}, 0, "-", "-", true, true},
        ExtractCase{
            "LeftMarkerWinsWithMax", "((a))", "((", "))", {"((-a-"}, 9, "-", "-", true, true},
        ExtractCase{
            "RightMarkerWithMax", "((a))", "((", "))", {"-a-))"}, 9, "-", "-", false, true}),
    [](const testing::TestParamInfo<ExtractCase>& info) { return std::string(info.param.name); });

// What one run of the expression over the whole subject yields.
TextArray itemsOverWholeSubject(QByteArrayView subject, QByteArrayView left, QByteArrayView right) {
    pennaro::RegexObject regex;
    regex.compileAndExecute(
        pennaro::joinTexts({escapeMarker(left), "(.*?)", escapeMarker(right)}), subject);
    TextArray items;
    for (int i = 1; i <= regex.matchCount(); ++i)
        items.append(regex.subMatchText(i, 1));
    return items;
}

TEST(ExtractBetween, FindsWhatOneRunOverTheWholeSubjectFinds) {
    std::mt19937 random(3);
    const char* pieces[] = {"\n", "\r", "\"", ":", "A", "a", "b", "\xD6", "\xF7", "\x81", "\x30",
                            "\xCC\xE2", " ", "x\"y"};
    const char* markers[] = {"a:", "A", "\xD6\xF7", "\xF7\xCC", ":", "\"", "b\"", "(", "a.b", "\xD6"};
    for (int round = 0; round < 4000; ++round) {
        Text subject;
        const int count = static_cast<int>(random() % 60);
        for (int k = 0; k < count; ++k)
            subject += pieces[random() % std::size(pieces)];
        const QByteArrayView left = markers[random() % std::size(markers)];
        const QByteArrayView right = markers[random() % std::size(markers)];
        TextArray result;
        extractBetween(subject, left, right, result);
        ASSERT_EQ(result, itemsOverWholeSubject(subject, left, right))
            << subject.toHex().constData() << " " << left.toByteArray().toHex().constData() << " "
            << right.toByteArray().toHex().constData();
    }
}

TEST(ExtractBetween, LongLineWithoutClosingQuoteEndsQuietly) {
    const Text longLine = kAuthor + Text(200 * 1024, 'x');
    Text manyMarkers = longLine;
    for (qsizetype i = 0; i + kAuthor.size() < manyMarkers.size(); i += 100)
        manyMarkers.replace(i, kAuthor.size(), kAuthor);
    for (const Text& line : {longLine, manyMarkers}) {
        TextArray result;
        EXPECT_EQ(extractBetween(line + "\r\n\"" + kAuthor + "name\"", kAuthor, "\"", result), 1);
        EXPECT_EQ(result, TextArray{"name"});
    }
}

struct EscapeCase {
    Text marker;
    Text expected;
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
    PrintTo(c.marker, os);
}

class EscapeMarker : public testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeMarker, EscapesTheNineCharactersOnly) {
    EXPECT_EQ(escapeMarker(GetParam().marker), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EscapeMarker,
                         testing::Values(EscapeCase{"a+b", "a\\+b"}, EscapeCase{"(x)", "\\(x\\)"},
                                         EscapeCase{"{1}", "\\{1\\}"}, EscapeCase{"[x]", "\\[x\\]"},
                                         EscapeCase{"a.b", "a.b"},
                                         EscapeCase{"?*+[](){}", "\\?\\*\\+\\[\\]\\(\\)\\{\\}"},
                                         EscapeCase{"\\^$|", "\\^$|"},
                                         EscapeCase{kTrailBracket + kTrailBrace + "{",
                                                    kTrailBracket + kTrailBrace + "\\{"},
                                         EscapeCase{"", ""}));

struct FivePairsCase {
    const char* name;
    Text text;
    std::optional<int> count;
    std::optional<int> startPosition;
    bool caseSensitive;
    std::vector<Text> pairs;
    Text expected;
};

void PrintTo(const FivePairsCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplaceFivePairs : public testing::TestWithParam<FivePairsCase> {};

TEST_P(ReplaceFivePairs, AppliesThePairsOneAfterTheOther) {
    const FivePairsCase& c = GetParam();
    std::vector<Text> p = c.pairs;
    p.resize(10);
    EXPECT_EQ(replaceFivePairs(c.text, c.count, c.startPosition, c.caseSensitive, p[0], p[1], p[2],
                               p[3], p[4], p[5], p[6], p[7], p[8], p[9]),
              c.expected);
}

const std::nullopt_t kAbsent = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceFivePairs,
    testing::Values(
        FivePairsCase{"FromTheStart", "aaaa", kAbsent, kAbsent, false, {"a", "b"}, "bbbb"},
        FivePairsCase{"StartZeroIsOne", "aaaa", kAbsent, 0, false, {"a", "b"}, "bbbb"},
        FivePairsCase{"StartThree", "aaaa", kAbsent, 3, false, {"a", "b"}, "aabb"},
        FivePairsCase{
            "StartThreeForEveryPair", "abab", kAbsent, 3, false, {"a", "x", "b", "y"}, "abxy"},
        FivePairsCase{"CountPerPair", "aXaX", 1, kAbsent, false, {"a", "b", "X", "y"}, "byaX"},
        FivePairsCase{"EachPairSeesThePreviousResult",
                      "a",
                      kAbsent,
                      kAbsent,
                      false,
                      {"a", "b", "b", "c"},
                      "c"},
        FivePairsCase{"AllFivePairs",
                      "12345",
                      kAbsent,
                      kAbsent,
                      false,
                      {"1", "a", "2", "b", "3", "c", "4", "d", "5", "e"},
                      "abcde"},
        FivePairsCase{"IgnoresCase", "aA", kAbsent, kAbsent, false, {"a", "x"}, "xx"},
        FivePairsCase{"CaseSensitive", "aA", kAbsent, kAbsent, true, {"a", "x"}, "xA"},
        FivePairsCase{"EmptyFindChangesNothing", "abc", kAbsent, kAbsent, false, {"", "z"}, "abc"},
        FivePairsCase{"AbsentReplacementDeletes", "abc", kAbsent, kAbsent, false, {"b"}, "ac"}),
    [](const testing::TestParamInfo<FivePairsCase>& info) { return std::string(info.param.name); });

// The saved listing pages, as the program would receive them in code page 936.
class ListingPages : public testing::Test {
protected:
    static QStringList pagePaths() {
        const QDir dir(QString::fromUtf8(PENNARO_FIXTURE_PAGES));
        QStringList paths;
        for (const QString& name : dir.entryList({u"*.html"_qs}, QDir::Files, QDir::Name))
            paths.append(dir.filePath(name));
        return paths;
    }

    static QString readPage(const QString& path) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        return QString::fromUtf8(file.readAll());
    }

    // Every text between the marker and the next quotation mark on the same line.
    static QStringList namesByScan(const QString& page) {
        const QString marker = u"主题作者:"_qs;
        QStringList names;
        qsizetype from = 0;
        for (qsizetype at; (at = page.indexOf(marker, from)) >= 0;) {
            const qsizetype start = at + marker.size();
            const qsizetype quote = page.indexOf(u'"', start);
            if (quote < 0)
                break;
            const qsizetype lineFeed = page.indexOf(u'\n', start);
            if (lineFeed >= 0 && lineFeed < quote) {
                from = start;
                continue;
            }
            names.append(page.mid(start, quote - start));
            from = quote + 1;
        }
        return names;
    }
};

TEST_F(ListingPages, OneNamePerMarkerInPageOrder) {
    const QStringList paths = pagePaths();
    ASSERT_FALSE(paths.isEmpty());
    QStringList everyName;
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        const QString page = readPage(path);
        const QStringList expected = namesByScan(page);
        ASSERT_GT(expected.size(), 0);
        EXPECT_EQ(expected.size(), page.count(u"主题作者:"_qs));

        TextArray result;
        const int count = extractBetween(Cp936Codec::encode(page), kAuthor, "\"", result);
        ASSERT_EQ(count, expected.size());
        ASSERT_EQ(result.size(), expected.size());
        for (qsizetype i = 0; i < result.size(); ++i) {
            EXPECT_EQ(result[i], Cp936Codec::encode(expected[i])) << "item " << i + 1;
            EXPECT_EQ(Cp936Codec::decode(result[i]), expected[i]) << "item " << i + 1;
            everyName.append(Cp936Codec::decode(result[i]));
        }
    }
    // Names beyond code page 936 come back as the same characters.
    for (const QString& name : {u" 阿玉么💨"_qs, u" 尤尤呐ლ"_qs, u" 雷霆半月斩º🌙"_qs})
        EXPECT_TRUE(everyName.contains(name)) << name.toStdString();
}

} // namespace

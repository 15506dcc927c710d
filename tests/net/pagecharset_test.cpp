#include "app/net/pagecharset.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <iconv.h>

#include <string>

using pennaro::declaredCharset;
using pennaro::HttpResponse;
using pennaro::pageBytesInListCodePage;

namespace {

// One code point through the system's converter to `charset`; "" when it has no form there.
QByteArray iconvCodePoint(const char* charset, char32_t c) {
    iconv_t cd = iconv_open(charset, "UTF-32LE");
    char in[4] = {char(c & 0xFF), char((c >> 8) & 0xFF), char((c >> 16) & 0xFF), 0};
    char out[16];
    char* inp = in;
    char* outp = out;
    size_t inLeft = sizeof in;
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        return {};
    return QByteArray(out, static_cast<qsizetype>(sizeof out - outLeft));
}

// The reference for the list's code page, straight from the system's tables: code page 936
// where it has the character, else GB18030's form.
QByteArray listBytes(const QString& text) {
    QByteArray bytes;
    for (const char32_t c : text.toUcs4()) {
        QByteArray form = iconvCodePoint("CP936", c);
        bytes += form.isEmpty() ? iconvCodePoint("GB18030", c) : form;
    }
    return bytes;
}

// A text in another charset, through the system's converter.
QByteArray encodedAs(const char* charset, const QString& text) {
    iconv_t cd = iconv_open(charset, "UTF-16LE");
    QByteArray out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(text.utf16()));
    size_t inLeft = static_cast<size_t>(text.size()) * 2;
    char* o = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), static_cast<size_t>(-1)) << charset;
    iconv_close(cd);
    out.truncate(out.size() - static_cast<qsizetype>(outLeft));
    return out;
}

struct DeclarationCase {
    const char* name;
    const char* contentType;
    QByteArray head;
    const char* charset;
};

class Declarations : public testing::TestWithParam<DeclarationCase> {};

TEST_P(Declarations, HeaderFirstThenMetaTag) {
    const DeclarationCase& c = GetParam();
    EXPECT_EQ(declaredCharset({c.head + "<body>x</body>", c.contentType}), c.charset);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Declarations,
    testing::Values(
        DeclarationCase{"header", "text/html; charset=UTF-8", "", "utf-8"},
        DeclarationCase{"header_quoted", "text/html;charset=\"GBK\"", "", "gbk"},
        DeclarationCase{"header_other_parameters", "text/html; x-charset=big5; CHARSET = utf-8", "",
                        "utf-8"},
        DeclarationCase{"header_wins", "text/html; charset=gbk", "<meta charset=\"utf-8\">", "gbk"},
        DeclarationCase{"header_without_charset", "text/html", "<meta charset=utf-8>", "utf-8"},
        DeclarationCase{"meta_charset", "", "<html><head><META Charset=UTF-8>", "utf-8"},
        DeclarationCase{"meta_charset_single_quotes", "", "<meta charset='Big5'/>", "big5"},
        DeclarationCase{"http_equiv", "",
                        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/>",
                        "utf-8"},
        DeclarationCase{"http_equiv_content_first", "",
                        "<META CONTENT='text/html;charset=\"ISO-8859-1\"' HTTP-EQUIV=content-type>",
                        "iso-8859-1"},
        DeclarationCase{"first_meta_wins", "", "<meta charset=\"utf-8\"><meta charset=\"gbk\">",
                        "utf-8"},
        DeclarationCase{"utf16_in_meta_means_utf8", "", "<meta charset=\"utf-16le\">", "utf-8"},
        DeclarationCase{"description_is_no_declaration", "",
                        "<meta name=\"description\" content=\"charset=utf-8\">", ""},
        DeclarationCase{"http_equiv_of_another_kind", "",
                        "<meta http-equiv=\"X-UA-Compatible\" content=\"charset=utf-8\">", ""},
        DeclarationCase{"outside_a_meta_tag", "", "<title>charset=utf-8</title>", ""},
        DeclarationCase{"other_tag_name", "", "<metadata charset=utf-8>", ""},
        DeclarationCase{"inside_a_comment", "", "<!-- <meta charset=\"utf-8\"> -->", ""},
        DeclarationCase{"not_a_charset_name", "", "<meta charset=\"utf-8//IGNORE\">", ""},
        DeclarationCase{"beyond_the_first_kilobyte", "",
                        QByteArray(1100, ' ') + "<meta charset=\"utf-8\">", ""},
        DeclarationCase{"across_the_first_kilobyte", "",
                        QByteArray(1010, ' ') + "<meta charset=\"utf-8\">", ""},
        DeclarationCase{"ends_on_the_first_kilobyte", "",
                        QByteArray(1002, ' ') + "<meta charset=\"utf-8\">", "utf-8"},
        DeclarationCase{"undeclared", "", "<html><head><title>x</title>", ""}),
    [](const auto& info) { return std::string(info.param.name); });

const QString kNamePage = u"<li title=\"主题作者: 张海楼🍀\">ლ €</li>"_qs;

struct ConvertedCase {
    const char* name;
    const char* contentType;
    const char* meta;
};

class Utf8Pages : public testing::TestWithParam<ConvertedCase> {};

TEST_P(Utf8Pages, ReachTheListCodePage) {
    const ConvertedCase& c = GetParam();
    const QString page = QString::fromUtf8(c.meta) + kNamePage;
    EXPECT_EQ(pageBytesInListCodePage({page.toUtf8(), c.contentType}), listBytes(page));
}

INSTANTIATE_TEST_SUITE_P(
    Declared, Utf8Pages,
    testing::Values(ConvertedCase{"header", "text/html; charset=utf-8", ""},
                    ConvertedCase{"header_over_a_wrong_meta", "text/html; charset=UTF-8",
                                  "<meta charset=\"gbk\">"},
                    ConvertedCase{"meta_charset", "text/html", "<meta charset=\"UTF-8\">"},
                    ConvertedCase{
                        "meta_http_equiv", "",
                        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf8\">"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PageCharset, NameKeepsItsBytesAndTheEmojiItsFourByteForm) {
    const QByteArray converted =
        pageBytesInListCodePage({u"张海楼🍀\""_qs.toUtf8(), "text/html; charset=utf-8"});
    const QByteArray clover = iconvCodePoint("GB18030", U'🍀');
    ASSERT_EQ(clover.size(), 4);
    EXPECT_EQ(converted, encodedAs("CP936", u"张海楼"_qs) + clover + '"');
}

TEST(PageCharset, BadUtf8BecomesReplacementsAndSwallowsNoByte) {
    // A stray lead byte passed on raw would pair with the quotation mark after it.
    const QByteArray page = "a\xD6\"b\xE4\xB8\"";
    const QByteArray converted = pageBytesInListCodePage({page, "text/html; charset=utf-8"});
    EXPECT_EQ(converted, listBytes(QString::fromUtf8(page)));
    EXPECT_EQ(converted.count('"'), 2);
}

TEST(PageCharset, GbkFamilyUndeclaredAndUnknownPagesStayRaw) {
    const QByteArray page = encodedAs("GB18030", u"主题作者: 张三🍀\" €"_qs);
    for (const char* type :
         {"text/html; charset=gbk", "text/html; charset=GB2312", "text/html; charset=GB18030",
          "text/html; charset=x-gbk", "text/html; charset=CP936", "text/html; charset=csgb2312",
          "text/html; charset=chinese", "text/html; charset=ms936", "text/html; charset=euc-cn",
          "text/html; charset=windows-936", "text/html; charset=gb_2312-80",
          "text/html; charset=iso-ir-58", "text/html", "", "text/html; charset=no-such-charset"})
        EXPECT_EQ(pageBytesInListCodePage({page, type}), page) << type;
    const QByteArray declared = "<meta charset=\"gbk\">" + page;
    EXPECT_EQ(pageBytesInListCodePage({declared, ""}), declared);
}

TEST(PageCharset, OtherCharsetsConvertThroughTheSystem) {
    const QString text = u"主题作者: Ωmega café"_qs;
    for (const char* charset : {"UTF-16LE", "UTF-16", "UTF-32BE", "Big5"}) {
        const QString page = charset == std::string("Big5") ? u"主題作者: 張三"_qs : text;
        EXPECT_EQ(pageBytesInListCodePage(
                      {encodedAs(charset, page), "text/html; charset=" + QByteArray(charset)}),
                  listBytes(page))
            << charset;
    }
    EXPECT_EQ(pageBytesInListCodePage({"caf\xE9", "text/html; charset=iso-8859-1"}),
              listBytes(u"café"_qs));
}

TEST(PageCharset, ConvertedPageEndsAtItsFirstNul) {
    EXPECT_EQ(pageBytesInListCodePage({QByteArray("ab\0cd", 5), "text/html; charset=utf-8"}), "ab");
    const QString text = u"ab"_qs + QChar(0) + u"cd"_qs;
    EXPECT_EQ(pageBytesInListCodePage({encodedAs("UTF-16LE", text), "text/html; charset=utf-16le"}),
              "ab");
}

TEST(PageCharset, SavedListingPageConverts) {
    QFile file(QDir(QStringLiteral(PENNARO_FIXTURE_PAGES))
                   .filePath(u"frs-utf8-2018-henanligong-bigpipe.html"_qs));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray utf8 = file.readAll();
    // Undeclared in the header: the page's own <meta charset="UTF-8"> decides.
    const QByteArray converted = pageBytesInListCodePage({utf8, "text/html"});
    EXPECT_EQ(converted, listBytes(QString::fromUtf8(utf8)));
    EXPECT_EQ(converted.count(encodedAs("CP936", u"主题作者:"_qs)), 49);
}

} // namespace

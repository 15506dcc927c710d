#include "app/net/pagecharset.h"
#include "runtime/core/cp936codec.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <iconv.h>

using pennaro::declaredCharset;
using pennaro::HttpResponse;
using pennaro::pageBytesInListCodePage;

namespace {

// GB18030 through the system's converter: the reference for the list's code page.
QByteArray gb18030(const QString& text) {
    iconv_t cd = iconv_open("GB18030", "UTF-16LE");
    QByteArray out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(text.utf16()));
    size_t inLeft = static_cast<size_t>(text.size()) * 2;
    char* o = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    out.truncate(out.size() - static_cast<qsizetype>(outLeft));
    return out;
}

struct DeclarationCase {
    const char* name;
    const char* contentType;
    const char* head;
    const char* charset;
};

class Declarations : public testing::TestWithParam<DeclarationCase> {};

TEST_P(Declarations, HeaderFirstThenMetaTag) {
    const DeclarationCase& c = GetParam();
    EXPECT_EQ(declaredCharset({QByteArray(c.head) + "<body>", c.contentType}), c.charset);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Declarations,
    testing::Values(
        DeclarationCase{"header", "text/html; charset=UTF-8", "", "utf-8"},
        DeclarationCase{"header_quoted", "text/html;charset=\"GBK\"", "", "gbk"},
        DeclarationCase{"header_wins", "text/html; charset=gbk", "<meta charset=\"utf-8\">", "gbk"},
        DeclarationCase{"meta_charset", "text/html", "<html><head><META Charset=UTF-8>", "utf-8"},
        DeclarationCase{"meta_http_equiv", "",
                        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\"/>",
                        "gb2312"},
        DeclarationCase{"charset_outside_meta", "", "<title>charset=utf-8</title>", ""},
        DeclarationCase{"undeclared", "", "<html><head><title>x</title>", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PageCharset, MetaBeyondTheFirstKilobyteIsNotLookedAt) {
    const QByteArray body = QByteArray(1100, ' ') + "<meta charset=\"utf-8\">";
    EXPECT_EQ(declaredCharset({body, ""}), "");
}

TEST(PageCharset, Utf8PagesReachTheListCodePageIntact) {
    const QString page = u"<meta charset=\"utf-8\">title=\"主题作者: 张海楼🍀\" ლ"_qs;
    const QByteArray expected = gb18030(page);
    EXPECT_EQ(pageBytesInListCodePage({page.toUtf8(), "text/html; charset=UTF-8"}), expected);
    EXPECT_EQ(pageBytesInListCodePage({page.toUtf8(), "text/html"}), expected);
    // The BMP part keeps its code page 936 bytes, the emoji takes its four-byte form.
    EXPECT_TRUE(expected.contains(pennaro::cp936(u"张海楼")));
}

TEST(PageCharset, GbkFamilyAndUndeclaredPagesStayRaw) {
    const QByteArray gbkPage = gb18030(u"主题作者: 张三\""_qs);
    for (const char* type :
         {"text/html; charset=gbk", "text/html; charset=GB2312", "text/html; charset=gb18030",
          "text/html; charset=x-gbk", "text/html", "", "text/html; charset=no-such-charset"})
        EXPECT_EQ(pageBytesInListCodePage({gbkPage, type}), gbkPage) << type;
}

TEST(PageCharset, OtherCharsetsConvertThroughTheSystem) {
    const QString text = u"主题作者: Ωmega"_qs;
    QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    EXPECT_EQ(pageBytesInListCodePage({utf16, "text/html; charset=utf-16le"}), gb18030(text));
    EXPECT_EQ(pageBytesInListCodePage({QByteArray("caf\xE9"), "text/html; charset=iso-8859-1"}),
              gb18030(u"café"_qs));
}

TEST(PageCharset, ConvertedPageEndsAtItsFirstNul) {
    EXPECT_EQ(pageBytesInListCodePage({QByteArray("ab\0cd", 5), "text/html; charset=utf-8"}), "ab");
    const QString text = u"ab"_qs + QChar(0) + u"cd"_qs;
    QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    EXPECT_EQ(pageBytesInListCodePage({utf16, "text/html; charset=utf-16le"}), "ab");
}

TEST(PageCharset, RealListingPageConverts) {
    QFile file(QDir(QStringLiteral(PENNARO_FIXTURE_PAGES))
                   .filePath(u"frs-utf8-2018-henanligong-bigpipe.html"_qs));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray utf8 = file.readAll();
    const QByteArray converted = pageBytesInListCodePage({utf8, ""});
    EXPECT_EQ(converted, gb18030(QString::fromUtf8(utf8)));
    EXPECT_EQ(converted.count(pennaro::cp936(u"主题作者:")), 49);
}

} // namespace

#include "app/mainwindow.h"
#include "app/net/httpclient.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/fileservices.h"
#include "runtime/gui/listedit.h"
#include "runtime/gui/windowservices.h"
#include "tests/support/loopbackserver.h"
#include "tests/support/modaldriver.h"
#include "tests/support/watchdog.h"
#include "tests/support/widgettestmain.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QPushButton>
#include <QTest>

#include <chrono>

using namespace pennaro;
using pennaro::testing::LoopbackServer;
using pennaro::testing::ModalDriver;
using pennaro::testing::Watchdog;
using namespace std::chrono_literals;

namespace {

// One listing entry per name, with the marker in the page's own encoding.
QByteArray entries(const QList<QByteArray>& names, const QByteArray& marker = cp936(u"主题作者:")) {
    QByteArray page;
    for (const QByteArray& name : names)
        page += "<span class=\"tb_icon_author\"\n  title=\"" + marker + name +
                "\"\n  data-field='{}'></span>\n";
    return page;
}

QByteArray listingPage(const QList<QByteArray>& names,
                       const QByteArray& marker = cp936(u"主题作者:")) {
    return "<html><body><ul>\n" + entries(names, marker) + "</ul></body></html>\n";
}

const QByteArray kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
// U+FFFD in GB18030's four bytes: what a byte that is not UTF-8 becomes in a UTF-8 page.
const QByteArray kReplacement = "\x84\x31\xA4\x37";

} // namespace

class HostileRunTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void goodPagesSurviveHostileOnes();
};

void HostileRunTest::init() {
    QFile::remove(Cp936Codec::decode(listFilePath()));
}

void HostileRunTest::cleanup() {
    QFile::remove(Cp936Codec::decode(listFilePath()));
}

// A run over good listing pages with hostile ones between them: each hostile page ends within
// the client's limits with what it gave, and the run goes on to the next page, so every good
// page's names reach the list and the label reaches its final count.
void HostileRunTest::goodPagesSurviveHostileOnes() {
    constexpr qint64 k200MB = qint64(200) * 1000 * 1000;
    constexpr qsizetype kLoopingPage = 5;
    const QByteArray utf8Marker = u"主题作者:"_qs.toUtf8();
    const QByteArray bigStart = entries({"big"});
    const QByteArray cut = entries({"cut"}) + "<span title=\"" + cp936(u"主题作者:") + "lost";
    const QByteArray chunk = listingPage({"chunked"});
    const QByteArray tooShort = entries({"short1"});
    const QList<LoopbackServer::Reply> pages{
        LoopbackServer::ok(listingPage({"a1", "a2"})),
        // Never answers.
        LoopbackServer::silent(),
        LoopbackServer::ok(listingPage({"b1"})),
        // A byte a minute.
        LoopbackServer::trickled({}, "HTTP/1.0 200 OK\r\n\r\n" + listingPage({"slow"}), 60s),
        // 200 MB: the first megabyte is the page.
        LoopbackServer::generated("HTTP/1.0 200 OK\r\nContent-Length: " +
                                      QByteArray::number(k200MB) + "\r\n\r\n" + bigStart,
                                  k200MB - bigStart.size(), "<p>filler</p>\n"),
        // Redirects to itself.
        LoopbackServer::redirect("/f?kw=lol&pn=" + QByteArray::number(kLoopingPage)),
        // Closes in the middle of an entry.
        LoopbackServer::raw("HTTP/1.0 200 OK\r\n\r\n" + cut),
        LoopbackServer::ok(listingPage({"c1"})),
        // The page's text ends at its first zero byte.
        LoopbackServer::ok(listingPage({"beforenul"}) + '\0' + listingPage({"afternul"})),
        // Not GBK, undeclared: the bytes go to the list as they are.
        LoopbackServer::ok(listingPage({"x\xFF\x80y", "gbkok"})),
        // Not UTF-8, declared so: each bad byte becomes a replacement character.
        LoopbackServer::ok(listingPage({"u\xC0\xAFv", "u8ok"}, utf8Marker),
                           "text/html; charset=utf-8"),
        // Not UTF-8, undeclared.
        LoopbackServer::ok(listingPage({"w\xC3(z"})),
        // A bad chunk size after a good chunk.
        LoopbackServer::raw(kChunkedHead + QByteArray::number(chunk.size(), 16) + "\r\n" + chunk +
                            "\r\nzz\r\n" + listingPage({"lost"})),
        // A Content-Length that ends within the page, then one beyond its end.
        LoopbackServer::response(200, {"Content-Length: " + QByteArray::number(tooShort.size())},
                                 tooShort + entries({"short2"})),
        LoopbackServer::response(200, {"Content-Length: 100000"}, listingPage({"long1"})),
        LoopbackServer::ok(listingPage({"d1", "a1"})),
    };
    const QByteArray expected = " @a1 @a2 @b1 @big @cut @c1 @beforenul @x\xFF\x80y @gbkok @u" +
                                kReplacement + kReplacement +
                                "v @u8ok @w\xC3(z @chunked @short1 @long1 @d1";

    MainWindow* window = nullptr;
    QMutex mutex;
    QList<QByteArray> offsets;
    QStringList labels;
    LoopbackServer server([&](const LoopbackServer::Request& request) {
        // The run waits for this answer, so its label stands still meanwhile.
        QMutexLocker lock(&mutex);
        offsets << request.query("pn");
        labels << window->标签3()->text();
        return pages.value(request.query("pn").toInt(), LoopbackServer::ok("?"));
    });
    const HttpClient client({1s, 1s, 1024 * 1024});
    MainWindow w(server.host(), client);
    window = &w;
    w.open();
    w.编辑框1()->setText(u"lol"_qs);
    ModalDriver dialogs;
    const QString count = QString::number(pages.size());
    dialogs.then(testing::typeAndConfirm(count));
    dialogs.then(testing::typeAndConfirm(u"0"_qs));
    {
        // Two pages wait out the 1 s stall limit, the rest end at once: a run still going after
        // 20 s has ignored its client's limits somewhere. Then the page in flight ends with the
        // server, and the closed window ends the run after it.
        const Watchdog watchdog(20s, [&] {
            QMetaObject::invokeMethod(&w, &QWidget::close, Qt::QueuedConnection);
            server.stop();
        });
        w.按钮1()->click();
        QVERIFY(!watchdog.fired());
    }
    QCOMPARE(dialogs.handled(), 2);

    QCOMPARE(getControlText(w.编辑框2()), expected);
    QCOMPARE(w.标签3()->text(), u"%1/%1"_qs.arg(count));
    // Every page asked for once, in order, the looping one over and over up to the client's
    // ten redirects.
    QList<QByteArray> expectedOffsets;
    QStringList expectedLabels;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const int asked = i == kLoopingPage ? 11 : 1;
        for (int n = 0; n < asked; ++n) {
            expectedOffsets << QByteArray::number(i);
            expectedLabels << (i == 0 ? u"标签"_qs : u"%1/%2"_qs.arg(i).arg(count));
        }
    }
    QCOMPARE(offsets, expectedOffsets);
    QCOMPARE(labels, expectedLabels);
}

PENNARO_WIDGET_TEST_MAIN(HostileRunTest)

#include "hostilerun_test.moc"

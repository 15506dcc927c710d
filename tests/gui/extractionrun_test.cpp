#include "app/mainwindow.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/fileservices.h"
#include "runtime/gui/listedit.h"
#include "runtime/gui/windowservices.h"
#include "tests/support/fakefilemanager.h"
#include "tests/support/loopbackserver.h"
#include "tests/support/modaldriver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMutex>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace pennaro;
using pennaro::testing::LoopbackServer;
using pennaro::testing::ModalDriver;
using pennaro::testing::readFile;

namespace {

// A listing page in the list's code page, undeclared, holding these author names.
QByteArray listingPage(const QList<QByteArray>& names) {
    QByteArray page = "<html><body><ul>\n";
    for (const QByteArray& name : names)
        page += "<span class=\"tb_icon_author\"\n  title=\"" + cp936(u"主题作者:") + name +
                "\"\n  data-field='{}'></span>\n";
    return page + "</ul></body></html>\n";
}

QString fixturePath(const char* name) {
    return QDir(QStringLiteral(PENNARO_FIXTURE_PAGES)).filePath(QString::fromUtf8(name));
}

// The author names of a saved UTF-8 page, taken out with a plain scan.
QStringList namesInPage(const QByteArray& utf8) {
    const QString page = QString::fromUtf8(utf8);
    const QString marker = u"主题作者:"_qs;
    QStringList names;
    for (qsizetype at = page.indexOf(marker); at >= 0; at = page.indexOf(marker, at + 1)) {
        const qsizetype start = at + marker.size();
        names << page.mid(start, page.indexOf(u'"', start) - start).trimmed();
    }
    return names;
}

// The names a run appended, in order: the " @" pieces of the list.
QStringList mentions(const QByteArray& list) {
    QStringList names;
    const QString text = Cp936Codec::decode(list);
    for (const QString& line : text.split(u"\r\n"_qs))
        for (const QString& piece : line.split(u" @"_qs, Qt::SkipEmptyParts))
            names << piece;
    return names;
}

} // namespace

class ExtractionRunTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void requestsCarryNameAndOffsets_data();
    void requestsCarryNameAndOffsets();
    void countNotAboveZeroEndsWithTheMessage_data();
    void countNotAboveZeroEndsWithTheMessage();
    void unreachableServerStillCountsPages();
    void namesJoinTheList_data();
    void namesJoinTheList();
    void nextPageStartsItsOwnCount();
    void realPagesGiveEveryAuthorOnce_data();
    void realPagesGiveEveryAuthorOnce();
    void closingTheWindowStopsTheRun();
    void secondClickRunsANestedRun();
    void userEditsDuringARunCount();

    void saveWritesTheListAndOpensTheFolder_data();
    void saveWritesTheListAndOpensTheFolder();
    void failedSaveSaysSoAndKeepsTheFile();
    void saveDuringARunSavesTheListAsItIs();

private:
    // Runs one extraction against `server` with the two dialogs answered by `count` and
    // `offset` (a null string cancels that dialog); returns the dialogs' titles and texts.
    ModalDriver* answer(ModalDriver& dialogs, const QString& count, const QString& offset);

    testing::FakeFileManager m_fileManager;
};

void ExtractionRunTest::initTestCase() {
    QVERIFY(m_fileManager.install());
}

void ExtractionRunTest::init() {
    QFile::remove(Cp936Codec::decode(listFilePath()));
    m_fileManager.reset();
}

void ExtractionRunTest::cleanup() {
    QFile listFile(Cp936Codec::decode(listFilePath()));
    listFile.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    listFile.remove();
    // No dialog or window is left over.
    for (const QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), qPrintable(widget->windowTitle()));
}

ModalDriver* ExtractionRunTest::answer(ModalDriver& dialogs, const QString& count,
                                       const QString& offset) {
    dialogs.then(count.isNull() ? testing::cancelDialog() : testing::typeAndConfirm(count));
    dialogs.then(offset.isNull() ? testing::cancelDialog() : testing::typeAndConfirm(offset));
    return &dialogs;
}

void ExtractionRunTest::requestsCarryNameAndOffsets_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QByteArray>("kw");
    QTest::addColumn<QList<QByteArray>>("pn");
    QTest::newRow("three pages from 7")
        << u"lol"_qs << u"3"_qs << u"7"_qs << QByteArray("lol") << QList<QByteArray>{"7", "8", "9"};
    QTest::newRow("negative offset")
        << u"李毅"_qs << u"3"_qs << u"-2"_qs << QByteArray("%E6%9D%8E%E6%AF%85")
        << QList<QByteArray>{"-2", "-1", "0"};
    QTest::newRow("offset cancelled") << u" a b "_qs << u"1"_qs << QString()
                                      << QByteArray("%20a%20b%20") << QList<QByteArray>{"0"};
    QTest::newRow("empty name") << QString() << u"2"_qs << u"0"_qs << QByteArray()
                                << QList<QByteArray>{"0", "1"};
    QTest::newRow("count read as a number")
        << u"x"_qs << u"2abc"_qs << u"+5x"_qs << QByteArray("x") << QList<QByteArray>{"5", "6"};
}

void ExtractionRunTest::requestsCarryNameAndOffsets() {
    QFETCH(QString, name);
    QFETCH(QString, count);
    QFETCH(QString, offset);
    QFETCH(QByteArray, kw);
    QFETCH(QList<QByteArray>, pn);
    MainWindow* window = nullptr;
    QStringList labels;
    QMutex mutex;
    LoopbackServer server([&](const LoopbackServer::Request&) {
        // The run waits for this answer, so its label stands still meanwhile.
        QMutexLocker lock(&mutex);
        labels << window->标签3()->text();
        return LoopbackServer::ok(listingPage({}));
    });
    MainWindow w(server.host());
    window = &w;
    w.open();
    w.编辑框1()->setText(name);
    ModalDriver dialogs;
    answer(dialogs, count, offset);
    w.按钮1()->click();

    QCOMPARE(dialogs.handled(), 2);
    QCOMPARE(dialogs.titles(), QStringList({u"请输入你要提取的页数"_qs, u"从第几页数起："_qs}));
    const QList<LoopbackServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), pn.size());
    QStringList expectedLabels{u"标签"_qs};
    for (qsizetype i = 0; i < requests.size(); ++i) {
        QCOMPARE(requests[i].requestLine, "GET /f?kw=" + kw + "&pn=" + pn[i] + " HTTP/1.0");
        QCOMPARE(
            requests[i].headers,
            QList<QByteArray>({"Host: " + server.host(),
                               "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                               "Accept: */*"}));
        if (i > 0)
            expectedLabels << u"%1/%2"_qs.arg(i).arg(pn.size());
    }
    QCOMPARE(labels, expectedLabels);
    QCOMPARE(w.标签3()->text(), u"%1/%1"_qs.arg(pn.size()));
}

void ExtractionRunTest::countNotAboveZeroEndsWithTheMessage_data() {
    QTest::addColumn<QString>("count");
    QTest::newRow("zero") << u"0"_qs;
    QTest::newRow("negative") << u"-3"_qs;
    QTest::newRow("empty") << u""_qs;
    QTest::newRow("not a number") << u"abc"_qs;
    QTest::newRow("cancelled") << QString();
}

void ExtractionRunTest::countNotAboveZeroEndsWithTheMessage() {
    QFETCH(QString, count);
    LoopbackServer server([](const auto&) { return LoopbackServer::ok(listingPage({"a"})); });
    MainWindow w(server.host());
    w.open();
    setControlText(w.编辑框2(), QByteArray(" @x"));
    w.编辑框1()->setText(u"lol"_qs);
    ModalDriver dialogs;
    answer(dialogs, count, u"3"_qs);
    dialogs.then(testing::acceptMessage());
    w.按钮1()->click();

    QCOMPARE(dialogs.handled(), 3);
    QCOMPARE(dialogs.titles(),
             QStringList({u"请输入你要提取的页数"_qs, u"从第几页数起："_qs, u"信息："_qs}));
    QCOMPARE(dialogs.texts().last(), u"错了，必须大于0"_qs);
    QVERIFY(server.requests().isEmpty());
    QCOMPARE(getControlText(w.编辑框2()), QByteArray(" @x"));
    QCOMPARE(w.标签3()->text(), u"标签"_qs);
}

void ExtractionRunTest::unreachableServerStillCountsPages() {
    QByteArray host;
    {
        LoopbackServer gone([](const auto&) { return LoopbackServer::ok(""); });
        host = gone.host();
    }
    MainWindow w(host);
    w.open();
    w.编辑框1()->setText(u"lol"_qs);
    ModalDriver dialogs;
    answer(dialogs, u"2"_qs, u"0"_qs);
    w.按钮1()->click();
    QCOMPARE(dialogs.handled(), 2);
    QCOMPARE(getControlText(w.编辑框2()), QByteArray());
    QCOMPARE(w.标签3()->text(), u"2/2"_qs);
}

void ExtractionRunTest::namesJoinTheList_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("six new names")
        << QByteArray() << QList<QByteArray>{"a", "b", "c", "d", "e", "f"}
        << QByteArray(" @a @b @c @d\r\n @e @f");
    QTest::newRow("known names leave empty lines")
        << QByteArray(" @p @q") << QList<QByteArray>{"a", "b", "c", "d", "p", "q"}
        << QByteArray(" @p @q @a @b @c @d\r\n\r\n\r\n");
    QTest::newRow("part of a longer name counts as present")
        << QByteArray(" @abc") << QList<QByteArray>{"ab", "bc", "ABC"} << QByteArray(" @abc @ABC");
    QTest::newRow("blanks around are stripped")
        << QByteArray(" @n1") << QList<QByteArray>{"  n1  ", cp936(u"\u3000张三\u3000"), " z "}
        << QByteArray(" @n1") + cp936(u" @张三") + " @z";
    QTest::newRow("blanks only, list not empty")
        << QByteArray("x") << QList<QByteArray>{"   "} << QByteArray("x");
    QTest::newRow("blanks only, list empty")
        << QByteArray() << QList<QByteArray>{"   "} << QByteArray(" @");
    QTest::newRow("empty member never appended")
        << QByteArray() << QList<QByteArray>{"", "a", ""} << QByteArray(" @a");
    QTest::newRow("two equal names")
        << QByteArray() << QList<QByteArray>{"dup", "dup"} << QByteArray(" @dup");
    QTest::newRow("list not ending in a line break")
        << QByteArray("x\r\ny") << QList<QByteArray>{"a"} << QByteArray("x\r\ny @a");
    QTest::newRow("emoji name") << QByteArray() << QList<QByteArray>{cp936(u"张海楼🍀")}
                                << cp936(u" @张海楼🍀");
    QTest::newRow("page without markers")
        << QByteArray("x") << QList<QByteArray>{} << QByteArray("x");
}

void ExtractionRunTest::namesJoinTheList() {
    QFETCH(QByteArray, before);
    QFETCH(QList<QByteArray>, names);
    QFETCH(QByteArray, after);
    LoopbackServer server([&](const auto&) { return LoopbackServer::ok(listingPage(names)); });
    MainWindow w(server.host());
    w.open();
    setControlText(w.编辑框2(), before);
    ModalDriver dialogs;
    answer(dialogs, u"1"_qs, u"0"_qs);
    w.按钮1()->click();
    QCOMPARE(getControlText(w.编辑框2()), after);
    // What the box shows is what it holds.
    QCoreApplication::processEvents();
    QCOMPARE(
        Cp936Codec::encode(w.编辑框2()->document()->toRawText(), Cp936Codec::LineBreaks::Widget),
        after);
}

void ExtractionRunTest::nextPageStartsItsOwnCount() {
    LoopbackServer server([](const LoopbackServer::Request& request) {
        return LoopbackServer::ok(request.query("pn") == "0"
                                      ? listingPage({"a", "b", "c", "d", "e", "f"})
                                      : listingPage({"g", "h", "i", "j", "k"}));
    });
    MainWindow w(server.host());
    w.open();
    ModalDriver dialogs;
    answer(dialogs, u"2"_qs, u"0"_qs);
    w.按钮1()->click();
    QCOMPARE(getControlText(w.编辑框2()), QByteArray(" @a @b @c @d\r\n @e @f @g @h @i @j\r\n @k"));
}

void ExtractionRunTest::realPagesGiveEveryAuthorOnce_data() {
    QTest::addColumn<QString>("serving");
    QTest::newRow("charset in the header") << u"header"_qs;
    QTest::newRow("charset only in the page") << u"meta"_qs;
    QTest::newRow("list code page, undeclared") << u"raw"_qs;
}

void ExtractionRunTest::realPagesGiveEveryAuthorOnce() {
    QFETCH(QString, serving);
    const char* files[] = {"frs-utf8-2020-lol-pn0-plain.html", "frs-utf8-2020-lol-pn50-plain.html",
                           "frs-utf8-2016-python-plain.html",
                           "frs-utf8-2018-henanligong-bigpipe.html",
                           "frs-utf8-2024-daomubiji-bigpipe.html"};
    QList<QByteArray> pages;
    QStringList expected;
    for (const char* file : files) {
        const QByteArray page = readFile(fixturePath(file));
        QVERIFY(!page.isEmpty());
        pages << page;
        for (const QString& name : namesInPage(page))
            if (!expected.contains(name))
                expected << name;
    }
    LoopbackServer server([&](const LoopbackServer::Request& request) {
        const QByteArray& page = pages.value(request.query("pn").toInt());
        if (serving == u"header")
            return LoopbackServer::ok(page, "text/html; charset=UTF-8");
        if (serving == u"meta")
            return LoopbackServer::ok(page, "text/html");
        // As a page of the code page days would come: no charset anywhere.
        QByteArray converted = Cp936Codec::fromUtf8(page);
        converted.replace("<meta charset=\"UTF-8\">", "");
        converted.replace("<meta charset=\"utf-8\">", "");
        return LoopbackServer::ok(converted);
    });
    MainWindow w(server.host());
    w.open();
    w.编辑框1()->setText(u"lol"_qs);
    ModalDriver dialogs;
    answer(dialogs, u"2"_qs, u"0"_qs);
    w.按钮1()->click();
    // The two lol pages: 94 authors, one of them on both pages.
    const QStringList firstTwo = mentions(getControlText(w.编辑框2()));
    QCOMPARE(firstTwo.size(), 94);
    QCOMPARE(firstTwo.count(u"仿若杯中茶"_qs), 1);
    QVERIFY(firstTwo.contains(u"雷霆半月斩º🌙"_qs));

    answer(dialogs, u"3"_qs, u"2"_qs);
    w.按钮1()->click();
    QCOMPARE(mentions(getControlText(w.编辑框2())), expected);
}

void ExtractionRunTest::closingTheWindowStopsTheRun() {
    MainWindow* window = nullptr;
    LoopbackServer server([&](const auto&) {
        // Arrives at the run's next event point, after this page.
        QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
        return LoopbackServer::ok(listingPage({"a", "b"}));
    });
    MainWindow w(server.host());
    window = &w;
    w.open();
    ModalDriver dialogs;
    answer(dialogs, u"5"_qs, u"0"_qs);
    w.按钮1()->click();
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(!w.isVisible());
    QCOMPARE(w.标签3()->text(), u"1/5"_qs);
    QCOMPARE(getControlText(w.编辑框2()), QByteArray(" @a @b"));
    // Nothing was saved on the way out.
    QVERIFY(!QFile::exists(Cp936Codec::decode(listFilePath())));
}

void ExtractionRunTest::secondClickRunsANestedRun() {
    MainWindow* window = nullptr;
    LoopbackServer server([&](const LoopbackServer::Request& request) {
        if (request.query("pn") == "0")
            QMetaObject::invokeMethod(window->按钮1(), &QPushButton::click, Qt::QueuedConnection);
        const QMap<QByteArray, QByteArray> names{{"0", "first"}, {"100", "nested"}, {"1", "then"}};
        return LoopbackServer::ok(listingPage({names.value(request.query("pn"))}));
    });
    MainWindow w(server.host());
    window = &w;
    w.open();
    ModalDriver dialogs;
    answer(dialogs, u"2"_qs, u"0"_qs);
    answer(dialogs, u"1"_qs, u"100"_qs);
    w.按钮1()->click();
    QCOMPARE(dialogs.handled(), 4);
    QList<QByteArray> offsets;
    for (const auto& request : server.requests())
        offsets << request.query("pn");
    QCOMPARE(offsets, QList<QByteArray>({"0", "100", "1"}));
    QCOMPARE(getControlText(w.编辑框2()), QByteArray(" @first @nested @then"));
    QCOMPARE(w.标签3()->text(), u"2/2"_qs);
}

void ExtractionRunTest::userEditsDuringARunCount() {
    MainWindow* window = nullptr;
    LoopbackServer server([&](const LoopbackServer::Request& request) {
        if (request.query("pn") == "0") {
            // The user types a name at the event point after the first page.
            QMetaObject::invokeMethod(
                window,
                [window] {
                    window->编辑框2()->moveCursor(QTextCursor::End);
                    window->编辑框2()->insertPlainText(u" typed"_qs);
                },
                Qt::QueuedConnection);
            return LoopbackServer::ok(listingPage({"a"}));
        }
        return LoopbackServer::ok(listingPage({"typed", "b"}));
    });
    MainWindow w(server.host());
    window = &w;
    w.open();
    ModalDriver dialogs;
    answer(dialogs, u"2"_qs, u"0"_qs);
    w.按钮1()->click();
    QCOMPARE(getControlText(w.编辑框2()), QByteArray(" @a typed @b"));
}

void ExtractionRunTest::saveWritesTheListAndOpensTheFolder_data() {
    QTest::addColumn<QByteArray>("list");
    QTest::newRow("empty list truncates") << QByteArray();
    QTest::newRow("two lines") << QByteArray(" @a @b\r\n @c");
    QTest::newRow("typed and odd bytes") << QByteArray("\xEF\xBB\xBF x\ny\r \xFF\x81");
    QTest::newRow("emoji") << cp936(u" @张海楼🍀 @尤尤呐ლ");
}

void ExtractionRunTest::saveWritesTheListAndOpensTheFolder() {
    QFETCH(QByteArray, list);
    const QString path = Cp936Codec::decode(listFilePath());
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(500, 'o'));
    }
    {
        MainWindow w;
        w.open();
        setControlText(w.编辑框2(), list);
        ModalDriver dialogs;
        dialogs.then(testing::acceptMessage());
        w.按钮2()->click();
        QCOMPARE(dialogs.titles(), QStringList{u"信息："_qs});
        QCOMPARE(dialogs.texts(), QStringList{u"OK.路径是："_qs + path});
        QCOMPARE(readFile(path), list);
        QCOMPARE(m_fileManager.launched(), QStringList{Cp936Codec::decode(programDirectory())});
    }
    // Started again, the program shows the same list.
    MainWindow again;
    again.open();
    QCOMPARE(getControlText(again.编辑框2()), list);
}

void ExtractionRunTest::failedSaveSaysSoAndKeepsTheFile() {
    const QString path = Cp936Codec::decode(listFilePath());
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(" @old");
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    MainWindow w;
    w.open();
    setControlText(w.编辑框2(), QByteArray(" @new"));
    ModalDriver dialogs;
    dialogs.then(testing::acceptMessage());
    w.按钮2()->click();
    QCOMPARE(dialogs.texts(), QStringList{u"保存失败："_qs + path});
    QCOMPARE(dialogs.titles(), QStringList{u"信息："_qs});
    QCOMPARE(readFile(path), QByteArray(" @old"));
    QTest::qWait(200);
    QVERIFY(!m_fileManager.started());
}

void ExtractionRunTest::saveDuringARunSavesTheListAsItIs() {
    MainWindow* window = nullptr;
    LoopbackServer server([&](const LoopbackServer::Request& request) {
        if (request.query("pn") == "0")
            QMetaObject::invokeMethod(window->按钮2(), &QPushButton::click, Qt::QueuedConnection);
        return LoopbackServer::ok(listingPage({"n" + request.query("pn")}));
    });
    MainWindow w(server.host());
    window = &w;
    w.open();
    ModalDriver dialogs;
    answer(dialogs, u"2"_qs, u"0"_qs);
    dialogs.then(testing::acceptMessage());
    w.按钮1()->click();
    QCOMPARE(dialogs.handled(), 3);
    QVERIFY(dialogs.texts().last().startsWith(u"OK.路径是："_qs));
    QCOMPARE(readFile(Cp936Codec::decode(listFilePath())), QByteArray(" @n0"));
    QCOMPARE(getControlText(w.编辑框2()), QByteArray(" @n0 @n1"));
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ExtractionRunTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "extractionrun_test.moc"

#include "app/mainwindow.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/fileservices.h"
#include "runtime/gui/hyperlinklabel.h"
#include "runtime/gui/listedit.h"
#include "runtime/gui/windowservices.h"
#include "tests/support/modaldriver.h"
#include "tests/support/widgettestmain.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace pennaro;

namespace {

QString listPath() {
    return Cp936Codec::decode(listFilePath());
}

void writeList(const QByteArray& content) {
    QFile file(listPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// Opens the window as the program does and waits until it is shown.
struct OpenWindow {
    MainWindow window;
    OpenWindow() {
        window.open();
        if (!QTest::qWaitForWindowActive(&window))
            qWarning("window not active");
    }
};

// Stands in for the system's browser.
class UrlCatcher final : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QFile::remove(listPath()); }
    void cleanup() { QFile::remove(listPath()); }

    void windowHasItsCaptionSizeAndFrame();
    void controlsStandAtTheirPlacesWithTheirTexts_data();
    void controlsStandAtTheirPlacesWithTheirTexts();
    void startsWithTheCaretInTheNameBox();
    void listFileStartCases_data();
    void listFileStartCases();
    void missingListFileIsNotCreated();
    void largeListFileLoads();
    void tabCyclesThroughTheFourControls();
    void escapeClosesFromAnyControl_data();
    void escapeClosesFromAnyControl();
    void enterBreaksLinesOnlyInTheList();
    void f1DoesNothing();
    void focusComesBackOnReactivation();
    void hyperlinksShowTheirState();
};

void MainWindowTest::windowHasItsCaptionSizeAndFrame() {
    OpenWindow w;
    QVERIFY(w.window.windowTitle().startsWith(u"PennaroV1.1  By:"_qs));
    // Offscreen there is no frame: the client area is the whole outer size.
    QCOMPARE(w.window.frameGeometry().size(), QSize(530, 397));
    QCOMPARE(w.window.minimumSize(), w.window.maximumSize());
    const Qt::WindowFlags flags = w.window.windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    const QRect screen = w.window.screen()->geometry();
    QCOMPARE(w.window.frameGeometry().topLeft(),
             QPoint((screen.width() - 530) / 2, (screen.height() - 397) / 2));
    QCOMPARE(w.window.palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Button));
    QVERIFY(w.window.autoFillBackground());
    QCOMPARE(w.window.font(), QApplication::font());
    QVERIFY(!w.window.windowIcon().pixmap(32, 32).isNull());
}

void MainWindowTest::controlsStandAtTheirPlacesWithTheirTexts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("takesFocus");
    QTest::newRow("标签1") << u"标签1"_qs << QRect(40, 16, 136, 24) << u"请输入贴吧名称："_qs
                           << false;
    QTest::newRow("标签2") << u"标签2"_qs << QRect(216, 16, 288, 16)
                           << u"作用：发贴方便直接复制 @用户名 你懂的"_qs << false;
    QTest::newRow("编辑框1") << u"编辑框1"_qs << QRect(24, 56, 216, 24) << QString() << true;
    QTest::newRow("按钮1") << u"按钮1"_qs << QRect(288, 48, 80, 32) << u"提取"_qs << true;
    QTest::newRow("按钮2") << u"按钮2"_qs << QRect(392, 48, 80, 32) << u"保存"_qs << true;
    QTest::newRow("编辑框2") << u"编辑框2"_qs << QRect(16, 96, 488, 224) << QString() << true;
    QTest::newRow("标签3") << u"标签3"_qs << QRect(16, 336, 88, 24) << u"标签"_qs << false;
    QTest::newRow("超级链接框2") << u"超级链接框2"_qs << QRect(128, 336, 160, 24) << u"联系QQ"_qs
                                 << false;
    QTest::newRow("超级链接框1") << u"超级链接框1"_qs << QRect(336, 336, 160, 24) << u"我的网站"_qs
                                 << false;
}

void MainWindowTest::controlsStandAtTheirPlacesWithTheirTexts() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    QFETCH(bool, takesFocus);
    OpenWindow w;
    auto* control = w.window.findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->geometry(), place);
    QVERIFY(control->isVisible());
    QVERIFY(control->isEnabled());
    QCOMPARE(Cp936Codec::decode(getControlText(control)), text);
    QCOMPARE(control->focusPolicy() != Qt::NoFocus, takesFocus);
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }
    // No two controls overlap.
    for (const QWidget* other : w.window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other != control && !other->objectName().isEmpty())
            QVERIFY2(!other->geometry().intersects(place), qPrintable(other->objectName()));
    }
}

void MainWindowTest::startsWithTheCaretInTheNameBox() {
    OpenWindow w;
    QCOMPARE(QApplication::focusWidget(), w.window.编辑框1());
    QCOMPARE(w.window.编辑框1()->cursorPosition(), 0);
    QVERIFY(!w.window.编辑框2()->textCursor().hasSelection());
    QCOMPARE(w.window.编辑框2()->textCursor().position(), 0);
    QCOMPARE(w.window.标签3()->text(), u"标签"_qs);
    QVERIFY(w.window.编辑框2()->tabChangesFocus());
    QCOMPARE(w.window.编辑框2()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(w.window.编辑框2()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

void MainWindowTest::listFileStartCases_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("empty file") << QByteArray("") << QByteArray();
    QTest::newRow("zero byte") << QByteArray("A\0B", 3) << QByteArray("A");
    QTest::newRow("byte-order mark")
        << QByteArray("\xEF\xBB\xBF @a") << QByteArray("\xEF\xBB\xBF @a");
    QTest::newRow("lone line feeds") << QByteArray(" @a\n @b\n") << QByteArray(" @a\n @b\n");
    QTest::newRow("mention list") << cp936(u" @张三 @李四\r\n @王五🍀")
                                  << cp936(u" @张三 @李四\r\n @王五🍀");
}

void MainWindowTest::listFileStartCases() {
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, shown);
    writeList(file);
    OpenWindow w;
    QCOMPARE(getControlText(w.window.编辑框2()), shown);
    QCOMPARE(Cp936Codec::encode(w.window.编辑框2()->document()->toRawText(),
                                Cp936Codec::LineBreaks::Widget),
             shown);
}

void MainWindowTest::missingListFileIsNotCreated() {
    testing::ModalDriver dialogs;
    {
        OpenWindow w;
        QCOMPARE(getControlText(w.window.编辑框2()), QByteArray());
        w.window.close();
    }
    QCOMPARE(dialogs.handled(), 0);
    QVERIFY(!QFileInfo::exists(listPath()));
}

void MainWindowTest::largeListFileLoads() {
    QByteArray big;
    const QByteArray line = cp936(u" @用户名 @name1234 @张海楼🍀 @x\r\n");
    while (big.size() < 10 * 1024 * 1024)
        big += line;
    writeList(big);
    OpenWindow w;
    QCOMPARE(getControlText(w.window.编辑框2()).size(), big.size());
    QVERIFY(getControlText(w.window.编辑框2()) == big);
}

void MainWindowTest::tabCyclesThroughTheFourControls() {
    OpenWindow w;
    const QList<QWidget*> order = {w.window.编辑框1(), w.window.按钮1(), w.window.编辑框2(),
                                   w.window.按钮2()};
    for (int step = 1; step <= 8; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), order[step % 4]);
    }
    // A Tab never reached the list as a character.
    QCOMPARE(getControlText(w.window.编辑框2()), QByteArray());
    for (int step = 1; step <= 8; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), order[(8 - step) % 4]);
    }
}

void MainWindowTest::escapeClosesFromAnyControl_data() {
    QTest::addColumn<QString>("control");
    for (const char16_t* name : {u"编辑框1", u"按钮1", u"编辑框2", u"按钮2"})
        QTest::newRow(QString::fromUtf16(name).toUtf8().constData()) << QString::fromUtf16(name);
}

void MainWindowTest::escapeClosesFromAnyControl() {
    QFETCH(QString, control);
    writeList(QByteArray(" @a"));
    OpenWindow w;
    auto* target = w.window.findChild<QWidget*>(control);
    target->setFocus();
    editAppend(w.window.编辑框2(), {QByteArray(" @unsaved")});
    QTest::keyClick(target, Qt::Key_Escape);
    QVERIFY(!w.window.isVisible());
    QVERIFY(isMainWindowClosed());
    // Closing saves nothing.
    QFile file(listPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray(" @a"));
}

void MainWindowTest::enterBreaksLinesOnlyInTheList() {
    testing::ModalDriver dialogs;
    OpenWindow w;
    setControlText(w.window.编辑框1(), QByteArray("lol"));
    w.window.编辑框1()->setFocus();
    QTest::keyClick(w.window.编辑框1(), Qt::Key_Return);
    QTest::keyClick(w.window.编辑框1(), Qt::Key_Enter);
    QCOMPARE(QApplication::focusWidget(), w.window.编辑框1());
    w.window.按钮1()->setFocus();
    QTest::keyClick(w.window.按钮1(), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), w.window.按钮1());
    QTest::qWait(50);
    // Neither button ran: no dialog, no file.
    QCOMPARE(dialogs.handled(), 0);
    QVERIFY(!QFileInfo::exists(listPath()));

    w.window.编辑框2()->setFocus();
    QTest::keyClicks(w.window.编辑框2(), u"ab"_qs);
    QTest::keyClick(w.window.编辑框2(), Qt::Key_Return);
    QTest::keyClicks(w.window.编辑框2(), u"c"_qs);
    QTest::keyClick(w.window.编辑框2(), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(w.window.编辑框2(), u"d"_qs);
    QCOMPARE(getControlText(w.window.编辑框2()), QByteArray("ab\r\nc\r\nd"));
    QCOMPARE(QApplication::focusWidget(), w.window.编辑框2());
}

void MainWindowTest::f1DoesNothing() {
    testing::ModalDriver dialogs;
    OpenWindow w;
    QTest::keyClick(w.window.编辑框1(), Qt::Key_F1);
    QTest::keyClick(w.window.编辑框1(), Qt::Key_F1, Qt::ShiftModifier);
    QTest::qWait(50);
    QCOMPARE(dialogs.handled(), 0);
    QVERIFY(w.window.isVisible());
    QCOMPARE(QApplication::focusWidget(), w.window.编辑框1());
}

void MainWindowTest::focusComesBackOnReactivation() {
    OpenWindow w;
    w.window.按钮2()->setFocus();
    QWidget other;
    other.resize(100, 100);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    w.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QCOMPARE(QApplication::focusWidget(), w.window.按钮2());
}

void MainWindowTest::hyperlinksShowTheirState() {
    OpenWindow w;
    HyperlinkLabel* site = w.window.超级链接框1();
    HyperlinkLabel* qq = w.window.超级链接框2();
    QCOMPARE(site->cursor().shape(), Qt::PointingHandCursor);
    // A thin border in the text colour, whatever the caption's state.
    auto borderColour = [site] {
        const QImage image = site->grab().toImage();
        return image.pixelColor(0, image.height() / 2);
    };
    const QColor border = borderColour();
    QCOMPARE(border, QApplication::palette().color(QPalette::WindowText));
    QCOMPARE(site->alignment(), Qt::AlignCenter);
    QVERIFY(qq->target().isValid());
    QCOMPARE(site->captionColour(), QColor(0, 0, 255));

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(site, &enter);
    QCOMPARE(site->captionColour(), QColor(51, 153, 255));
    QCOMPARE(borderColour(), border);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(site, &leave);
    QCOMPARE(site->captionColour(), QColor(0, 0, 255));

    // Nothing can open a link offscreen: a failed open keeps the normal colour.
    QTest::mouseClick(site, Qt::LeftButton);
    QCOMPARE(site->captionColour(), QColor(0, 0, 255));
    QVERIFY(!site->isVisited());

    UrlCatcher browser;
    const QString scheme = site->target().scheme();
    QDesktopServices::setUrlHandler(scheme, &browser, "open");
    QTest::mouseClick(site, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(scheme);
    QTRY_COMPARE(browser.opened.size(), 1);
    QCOMPARE(browser.opened.first(), site->target());
    QCOMPARE(site->captionColour(), QColor(128, 0, 0));
    QCOMPARE(QApplication::focusWidget(), w.window.编辑框1());
}

PENNARO_WIDGET_TEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"

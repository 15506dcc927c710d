#include "runtime/core/cp936codec.h"
#include "runtime/gui/inputdialog.h"
#include "runtime/gui/windowservices.h"
#include "tests/support/modaldriver.h"
#include "tests/support/widgettestmain.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <limits>

using namespace pennaro;
using pennaro::testing::ModalDriver;

namespace {

constexpr qint32 kMin = std::numeric_limits<qint32>::min();
constexpr qint32 kMax = std::numeric_limits<qint32>::max();

// Runs `steps` on the open dialog. A dialog still open a while later (a mnemonic clicks its
// button only after a short animation) is rejected and noted in `leftOpen`, so a gesture that
// fails to close the dialog fails the test instead of hanging it, and a rejection by this guard
// cannot pass for a Cancel.
template <class Dialog>
ModalDriver::Action drive(std::function<void(Dialog&)> steps, bool& leftOpen) {
    return [steps = std::move(steps), &leftOpen](QWidget* widget) {
        if (auto* dialog = qobject_cast<Dialog*>(widget))
            steps(*dialog);
        else
            leftOpen = true;
        // The dialog is destroyed when its service returns, and the check with it.
        QTimer::singleShot(2000, widget, [widget, &leftOpen] {
            if (!widget->isVisible())
                return;
            leftOpen = true;
            if (auto* dialog = qobject_cast<QDialog*>(widget))
                dialog->reject();
        });
    };
}

// One key event per character, as a keyboard sends them: QTest::keyClicks cannot carry
// characters outside Latin-1.
void typeKeys(QWidget* target, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, text.mid(i, length),
                            Qt::NoModifier);
        i += length - 1;
    }
}

void commitInput(QWidget* target, const QString& text) {
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QCoreApplication::sendEvent(target, &commit);
}

// Presses the window's close box.
void pressCloseBox(QWidget* window) {
    window->windowHandle()->close();
}

QPushButton* buttonWithText(QWidget* dialog, const QString& text) {
    for (auto* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

QString shownText(const QWidget* control) {
    if (const auto* line = qobject_cast<const QLineEdit*>(control))
        return line->text();
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    return {};
}

class PaintCounter final : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

class PostedEventCounter final : public QObject {
public:
    int received = 0;

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++received;
        return true;
    }
};

enum class Gesture { Enter, ClickOk, AltO, Escape, ClickCancel, AltC, CloseBox };
enum class Opener { InputDialog, MessageBox };

} // namespace

Q_DECLARE_METATYPE(Gesture)
Q_DECLARE_METATYPE(Opener)

class DialogsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setMainWindowOpen(true); }

    void integerFromTypedText_data();
    void integerFromTypedText();
    void inputDialogLook_data();
    void inputDialogLook();
    void inputDialogCloses_data();
    void inputDialogCloses();
    void typingIsFilteredByMode_data();
    void typingIsFilteredByMode();
    void controlKeysAndPasteAreNotFiltered_data();
    void controlKeysAndPasteAreNotFiltered();
    void integerVariableReadsTheDialogText_data();
    void integerVariableReadsTheDialogText();
    void textVariableReceivesCodePageBytes();
    void dialogsBlockTheOtherWindows_data();
    void dialogsBlockTheOtherWindows();
    void messageBoxLook_data();
    void messageBoxLook();
    void messageBoxClosesWithOk_data();
    void messageBoxClosesWithOk();
    void pumpEventsRunsWhatIsWaiting();
    void pumpEventsReturnsAtOnceAfterTheWindowIsClosed();
    void controlTextRoundTrips_data();
    void controlTextRoundTrips();
    void controlTextIsReadEachTime();
    void editAppendAddsAtTheEndOfALineEdit();
};

void DialogsTest::integerFromTypedText_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint32>("value");
    QTest::newRow("digits then letters") << QByteArray("12abc") << 12;
    QTest::newRow("no digits") << QByteArray("abc") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("spaces and minus") << QByteArray("  -7") << -7;
    QTest::newRow("plus") << QByteArray("+3") << 3;
    QTest::newRow("all white space kinds") << QByteArray("\t\n\v\f\r 8") << 8;
    QTest::newRow("stops at a space") << QByteArray("1 2") << 1;
    QTest::newRow("stops at a point") << QByteArray("12.9") << 12;
    QTest::newRow("leading zeros") << QByteArray("007") << 7;
    QTest::newRow("sign alone") << QByteArray("-") << 0;
    QTest::newRow("two signs") << QByteArray("+-1") << 0;
    QTest::newRow("space after sign") << QByteArray("- 1") << 0;
    QTest::newRow("white space after digits") << QByteArray(" 5 ") << 5;
    QTest::newRow("largest") << QByteArray("2147483647") << kMax;
    QTest::newRow("smallest") << QByteArray("-2147483648") << kMin;
    QTest::newRow("one past largest wraps") << QByteArray("2147483648") << kMin;
    QTest::newRow("one below smallest wraps") << QByteArray("-2147483649") << kMax;
    QTest::newRow("2^32 + 1") << QByteArray("4294967297") << 1;
    QTest::newRow("minus 2^32 - 1") << QByteArray("-4294967297") << -1;
    // 10^20 overflows 64 bits as well; only the low 32 bits count.
    QTest::newRow("10^20") << QByteArray("100000000000000000000") << 1661992960;
    QTest::newRow("full-width digit") << QByteArray("\xA3\xB1") << 0;
}

void DialogsTest::integerFromTypedText() {
    QFETCH(QByteArray, text);
    QFETCH(qint32, value);
    QCOMPARE(pennaro::integerFromTypedText(text), value);
}

void DialogsTest::inputDialogLook_data() {
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("caption");
    QTest::newRow("prompt, no title")
        << u"请输入<b>页数</b>："_qs << QString() << u"10"_qs << u"请输入："_qs;
    QTest::newRow("title") << u"起始"_qs << u"提取"_qs << u"0"_qs << u"提取"_qs;
    QTest::newRow("no prompt") << QString() << QString() << QString() << u"请输入："_qs;
    QTest::newRow("long prompt") << u"很长的提示，"_qs.repeated(60) << QString() << u"abc"_qs
                                 << u"请输入："_qs;
}

void DialogsTest::inputDialogLook() {
    QFETCH(QString, prompt);
    QFETCH(QString, title);
    QFETCH(QString, initial);
    QFETCH(QString, caption);
    bool leftOpen = false;
    ModalDriver dialogs;
    dialogs.then(drive<InputDialog>(
        [&](InputDialog& dialog) {
            QCOMPARE(dialog.windowTitle(), caption);
            const QList<QLineEdit*> edits = dialog.findChildren<QLineEdit*>();
            QCOMPARE(edits.size(), 1);
            const QLineEdit* edit = edits.first();
            QCOMPARE(edit->text(), initial);
            QCOMPARE(edit->selectedText(), initial);
            QCOMPARE(dialog.focusWidget(), edit);

            const auto* label = dialog.findChild<QLabel*>(u"prompt"_qs);
            if (prompt.isEmpty()) {
                QVERIFY(dialog.findChildren<QLabel*>().isEmpty());
            } else {
                QVERIFY(label != nullptr);
                QCOMPARE(label->text(), prompt);
                QCOMPARE(label->textFormat(), Qt::PlainText);
                QVERIFY(label->wordWrap());
                QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
                QVERIFY(label->frameShape() != QFrame::NoFrame);
                QCOMPARE(label->frameShadow(), QFrame::Sunken);
                QVERIFY(label->geometry().bottom() < edit->geometry().top());
                // Wrapped, not stretched across the screen.
                QVERIFY(dialog.frameGeometry().width() < dialog.screen()->geometry().width());
            }

            const QList<QPushButton*> buttons = dialog.findChildren<QPushButton*>();
            QCOMPARE(buttons.size(), 2);
            QPushButton* ok = buttonWithText(&dialog, u"确认输入(&O)"_qs);
            QPushButton* cancel = buttonWithText(&dialog, u"取消(&C)"_qs);
            QVERIFY(ok != nullptr && cancel != nullptr);
            QVERIFY(ok->isDefault());
            QVERIFY(!cancel->isDefault());
            QVERIFY(ok->geometry().top() > edit->geometry().bottom());
            QVERIFY(cancel->geometry().top() > edit->geometry().bottom());

            const QPoint offCentre =
                dialog.frameGeometry().center() - dialog.screen()->geometry().center();
            QVERIFY2(offCentre.manhattanLength() <= 2,
                     qPrintable(u"%1,%2"_qs.arg(offCentre.x()).arg(offCentre.y())));
            dialog.reject();
        },
        leftOpen));
    Text variable = "kept";
    QVERIFY(!askInput(cp936(prompt), cp936(title), cp936(initial), variable));
    QVERIFY(!leftOpen);
    QCOMPARE(dialogs.handled(), 1);
    QCOMPARE(variable, Text("kept"));
}

void DialogsTest::inputDialogCloses_data() {
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("Enter") << Gesture::Enter << true;
    QTest::newRow("OK button") << Gesture::ClickOk << true;
    QTest::newRow("Alt+O") << Gesture::AltO << true;
    QTest::newRow("Escape") << Gesture::Escape << false;
    QTest::newRow("Cancel button") << Gesture::ClickCancel << false;
    QTest::newRow("Alt+C") << Gesture::AltC << false;
    QTest::newRow("close box") << Gesture::CloseBox << false;
}

void DialogsTest::inputDialogCloses() {
    QFETCH(Gesture, gesture);
    QFETCH(bool, accepted);
    bool leftOpen = false;
    ModalDriver dialogs;
    dialogs.then(drive<InputDialog>(
        [gesture](InputDialog& dialog) {
            switch (gesture) {
            case Gesture::Enter:
                QTest::keyClick(dialog.editor(), Qt::Key_Return);
                break;
            case Gesture::ClickOk:
                QTest::mouseClick(buttonWithText(&dialog, u"确认输入(&O)"_qs), Qt::LeftButton);
                break;
            case Gesture::AltO:
                QTest::keyClick(dialog.editor(), Qt::Key_O, Qt::AltModifier);
                break;
            case Gesture::Escape:
                QTest::keyClick(dialog.editor(), Qt::Key_Escape);
                break;
            case Gesture::ClickCancel:
                QTest::mouseClick(buttonWithText(&dialog, u"取消(&C)"_qs), Qt::LeftButton);
                break;
            case Gesture::AltC:
                QTest::keyClick(dialog.editor(), Qt::Key_C, Qt::AltModifier);
                break;
            case Gesture::CloseBox:
                pressCloseBox(&dialog);
                break;
            }
        },
        leftOpen));
    qint32 variable = 5;
    QCOMPARE(askInput(cp936(u"页数"), {}, Text("17"), variable, 2), accepted);
    QVERIFY(!leftOpen);
    QCOMPARE(variable, accepted ? 17 : 5);
}

void DialogsTest::typingIsFilteredByMode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("commit");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("masked");
    const QString mixed = u"a-1.2b+ 3,"_qs;
    QTest::newRow("text") << 1 << mixed << QString() << mixed << false;
    QTest::newRow("0 is text") << 0 << mixed << QString() << mixed << false;
    QTest::newRow("-5 is text") << -5 << mixed << QString() << mixed << false;
    QTest::newRow("whole number") << 2 << mixed << QString() << u"-123"_qs << false;
    QTest::newRow("decimal") << 3 << mixed << QString() << u"-1.23"_qs << false;
    QTest::newRow("password") << 4 << mixed << QString() << mixed << true;
    QTest::newRow("5 is password") << 5 << mixed << QString() << mixed << true;
    QTest::newRow("100 is password") << 100 << mixed << QString() << mixed << true;
    const QString wide = u"1中🍀\uE000２2"_qs;
    QTest::newRow("text, wide keys") << 1 << wide << QString() << wide << false;
    QTest::newRow("whole number, wide keys") << 2 << wide << QString() << u"12"_qs << false;
    QTest::newRow("decimal, wide keys") << 3 << wide << QString() << u"12"_qs << false;
    const QString composed = u"3中.4🍀"_qs;
    QTest::newRow("text, input method") << 1 << QString() << composed << composed << false;
    QTest::newRow("whole number, input method") << 2 << QString() << composed << u"34"_qs << false;
    QTest::newRow("decimal, input method") << 3 << QString() << composed << u"3.4"_qs << false;
    QTest::newRow("keys then input method") << 2 << u"7x"_qs << u"8中"_qs << u"78"_qs << false;
}

void DialogsTest::typingIsFilteredByMode() {
    QFETCH(int, mode);
    QFETCH(QString, keys);
    QFETCH(QString, commit);
    QFETCH(QString, expected);
    QFETCH(bool, masked);
    bool leftOpen = false;
    QString held;
    QString shown;
    ModalDriver dialogs;
    dialogs.then(drive<InputDialog>(
        [&](InputDialog& dialog) {
            typeKeys(dialog.editor(), keys);
            if (!commit.isEmpty())
                commitInput(dialog.editor(), commit);
            held = dialog.editor()->text();
            shown = dialog.editor()->displayText();
            QTest::keyClick(dialog.editor(), Qt::Key_Return);
        },
        leftOpen));
    Text variable;
    QVERIFY(askInput({}, {}, {}, variable, mode));
    QVERIFY(!leftOpen);
    QCOMPARE(held, expected);
    QCOMPARE(variable, cp936(expected));
    QCOMPARE(shown.size(), held.size());
    QCOMPARE(shown == held, !masked);
}

void DialogsTest::controlKeysAndPasteAreNotFiltered_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("whole number") << 2;
    QTest::newRow("decimal") << 3;
}

void DialogsTest::controlKeysAndPasteAreNotFiltered() {
    QFETCH(int, mode);
    const QString pasted = u"ab 中.x"_qs;
    QApplication::clipboard()->setText(pasted);
    bool leftOpen = false;
    QString afterBackspace;
    QString afterPaste;
    QString afterCut;
    ModalDriver dialogs;
    dialogs.then(drive<InputDialog>(
        [&](InputDialog& dialog) {
            QLineEdit* edit = dialog.editor();
            QTest::keyClicks(edit, u"129"_qs);
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClick(edit, Qt::Key_Home);
            QTest::keyClick(edit, Qt::Key_Delete);
            afterBackspace = edit->text();
            QTest::keyClick(edit, Qt::Key_End);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
            afterPaste = edit->text();
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
            afterCut = edit->text();
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Return);
        },
        leftOpen));
    Text variable;
    QVERIFY(askInput({}, {}, Text("0"), variable, mode));
    QVERIFY(!leftOpen);
    QCOMPARE(afterBackspace, u"2"_qs);
    QCOMPARE(afterPaste, u"2"_qs + pasted);
    QCOMPARE(afterCut, QString());
    QCOMPARE(QApplication::clipboard()->text(), u"2"_qs + pasted);
    QCOMPARE(variable, cp936(u"2"_qs + pasted));
}

void DialogsTest::integerVariableReadsTheDialogText_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<qint32>("value");
    QTest::newRow("pasted 12abc") << QString() << u"12abc"_qs << 12;
    QTest::newRow("pasted abc") << QString() << u"abc"_qs << 0;
    QTest::newRow("pasted spaces and plus") << QString() << u"  +3页"_qs << 3;
    QTest::newRow("typed negative") << u"-7"_qs << QString() << -7;
    QTest::newRow("typed past the range") << u"2147483648"_qs << QString() << kMin;
    QTest::newRow("typed minus inside") << u"5-3"_qs << QString() << 5;
    QTest::newRow("nothing typed") << QString() << QString() << 0;
}

void DialogsTest::integerVariableReadsTheDialogText() {
    QFETCH(QString, keys);
    QFETCH(QString, pasted);
    QFETCH(qint32, value);
    QApplication::clipboard()->setText(pasted);
    bool leftOpen = false;
    ModalDriver dialogs;
    dialogs.then(drive<InputDialog>(
        [&](InputDialog& dialog) {
            // The initial text is selected: what comes next replaces it.
            QTest::keyClick(dialog.editor(), Qt::Key_Backspace);
            QTest::keyClicks(dialog.editor(), keys);
            if (!pasted.isEmpty())
                QTest::keyClick(dialog.editor(), Qt::Key_V, Qt::ControlModifier);
            QTest::keyClick(dialog.editor(), Qt::Key_Return);
        },
        leftOpen));
    qint32 variable = 99;
    QVERIFY(askInput(cp936(u"请输入页数："), {}, Text("40"), variable, 2));
    QVERIFY(!leftOpen);
    QCOMPARE(variable, value);
}

void DialogsTest::textVariableReceivesCodePageBytes() {
    bool leftOpen = false;
    ModalDriver dialogs;
    dialogs.then(drive<InputDialog>(
        [](InputDialog& dialog) {
            commitInput(dialog.editor(), u"李毅"_qs);
            QTest::keyClicks(dialog.editor(), u" x"_qs);
            commitInput(dialog.editor(), u"吧🍀"_qs);
            QTest::keyClick(dialog.editor(), Qt::Key_Return);
        },
        leftOpen));
    Text variable = "old";
    QVERIFY(askInput({}, {}, {}, variable));
    QVERIFY(!leftOpen);
    QCOMPARE(variable, QByteArray("\xC0\xEE\xD2\xE3 x\xB0\xC9\x94\x39\xB6\x32"));
}

void DialogsTest::dialogsBlockTheOtherWindows_data() {
    QTest::addColumn<Opener>("opener");
    QTest::newRow("input dialog") << Opener::InputDialog;
    QTest::newRow("message box") << Opener::MessageBox;
}

void DialogsTest::dialogsBlockTheOtherWindows() {
    QFETCH(Opener, opener);
    QWidget window;
    window.resize(200, 100);
    auto* button = new QPushButton(u"按钮"_qs, &window);
    button->setGeometry(20, 20, 100, 40);
    int clicks = 0;
    connect(button, &QPushButton::clicked, this, [&clicks] { ++clicks; });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Through the window system, where a modal window blocks input.
    const auto click = [&] {
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, button->geometry().center());
    };
    click();
    QCOMPARE(clicks, 1);

    bool leftOpen = false;
    int clicksWhileOpen = -1;
    ModalDriver dialogs;
    dialogs.then(drive<QDialog>(
        [&](QDialog& dialog) {
            click();
            clicksWhileOpen = clicks;
            if (auto* box = qobject_cast<QMessageBox*>(&dialog))
                box->button(QMessageBox::Ok)->click();
            else
                dialog.accept();
        },
        leftOpen));
    if (opener == Opener::InputDialog) {
        Text variable;
        QVERIFY(askInput({}, {}, {}, variable));
    } else {
        QCOMPARE(showMessage(Text("x")), 1);
    }
    QVERIFY(!leftOpen);
    QCOMPARE(clicksWhileOpen, 1);
    click();
    QCOMPARE(clicks, 2);
}

void DialogsTest::messageBoxLook_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hasCaption");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shownCaption");
    QTest::newRow("no caption") << u"错了，必须大于0"_qs << false << QString() << u"信息："_qs;
    QTest::newRow("empty caption") << u"x"_qs << true << QString() << u"信息："_qs;
    QTest::newRow("caption") << u"x"_qs << true << u"提示"_qs << u"提示"_qs;
    QTest::newRow("markup is text")
        << u"<b>OK.</b>路径是：C:\\a&b<br>"_qs << false << QString() << u"信息："_qs;
}

void DialogsTest::messageBoxLook() {
    QFETCH(QString, text);
    QFETCH(bool, hasCaption);
    QFETCH(QString, caption);
    QFETCH(QString, shownCaption);
    bool leftOpen = false;
    ModalDriver dialogs;
    dialogs.then(drive<QMessageBox>(
        [&](QMessageBox& box) {
            QCOMPARE(box.windowTitle(), shownCaption);
            QVERIFY(box.parentWidget() == nullptr);
            const auto* label = box.findChild<QLabel*>(u"qt_msgbox_label"_qs);
            QVERIFY(label != nullptr);
            QCOMPARE(label->text(), text);
            QCOMPARE(label->textFormat(), Qt::PlainText);
            QCOMPARE(box.icon(), QMessageBox::NoIcon);
            QVERIFY(box.iconPixmap().isNull());
            QCOMPARE(box.buttons().size(), 1);
            QCOMPARE(box.standardButton(box.buttons().first()), QMessageBox::Ok);
            box.buttons().first()->click();
        },
        leftOpen));
    const std::optional<Text> given = hasCaption ? std::optional(cp936(caption)) : std::nullopt;
    QCOMPARE(showMessage(cp936(text), 0, given), 1);
    QVERIFY(!leftOpen);
    QCOMPARE(dialogs.handled(), 1);
}

void DialogsTest::messageBoxClosesWithOk_data() {
    QTest::addColumn<Gesture>("gesture");
    QTest::newRow("OK button") << Gesture::ClickOk;
    QTest::newRow("Enter") << Gesture::Enter;
    QTest::newRow("Escape") << Gesture::Escape;
    QTest::newRow("close box") << Gesture::CloseBox;
}

void DialogsTest::messageBoxClosesWithOk() {
    QFETCH(Gesture, gesture);
    bool leftOpen = false;
    ModalDriver dialogs;
    dialogs.then(drive<QMessageBox>(
        [gesture](QMessageBox& box) {
            QWidget* focus = box.focusWidget() ? box.focusWidget() : &box;
            if (gesture == Gesture::ClickOk)
                QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton);
            else if (gesture == Gesture::Enter)
                QTest::keyClick(focus, Qt::Key_Return);
            else if (gesture == Gesture::Escape)
                QTest::keyClick(focus, Qt::Key_Escape);
            else
                pressCloseBox(&box);
        },
        leftOpen));
    QCOMPARE(showMessage(cp936(u"OK.路径是：/tmp")), 1);
    QVERIFY(!leftOpen);
}

void DialogsTest::pumpEventsRunsWhatIsWaiting() {
    PaintCounter painted;
    painted.resize(50, 50);
    painted.show();
    QVERIFY(QTest::qWaitForWindowExposed(&painted));
    QCoreApplication::processEvents();
    const int paintsBefore = painted.paints;

    QObject context;
    int queuedCalls = 0;
    int singleShots = 0;
    int zeroTimerRuns = 0;
    QMetaObject::invokeMethod(
        &context, [&] { ++queuedCalls; }, Qt::QueuedConnection);
    QTimer::singleShot(0, &context, [&] { ++singleShots; });
    QTimer zeroTimer;
    zeroTimer.setSingleShot(true);
    connect(&zeroTimer, &QTimer::timeout, &context, [&] { ++zeroTimerRuns; });
    zeroTimer.start(0);
    PostedEventCounter receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QLineEdit edit;
    QCoreApplication::postEvent(
        &edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, u"x"_qs));
    painted.update();
    // Nothing above has run yet.
    QCOMPARE(queuedCalls + singleShots + zeroTimerRuns + receiver.received, 0);
    QCOMPARE(edit.text(), QString());
    QCOMPARE(painted.paints, paintsBefore);

    pumpEvents();
    QCOMPARE(queuedCalls, 1);
    QCOMPARE(singleShots, 1);
    QCOMPARE(zeroTimerRuns, 1);
    QCOMPARE(receiver.received, 1);
    QCOMPARE(edit.text(), u"x"_qs);
    QVERIFY(painted.paints > paintsBefore);
}

void DialogsTest::pumpEventsReturnsAtOnceAfterTheWindowIsClosed() {
    QObject context;
    int calls = 0;
    QMetaObject::invokeMethod(
        &context, [&] { ++calls; }, Qt::QueuedConnection);
    PostedEventCounter receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    setMainWindowOpen(false);
    QVERIFY(isMainWindowClosed());
    pumpEvents();
    QCOMPARE(calls, 0);
    QCOMPARE(receiver.received, 0);
    setMainWindowOpen(true);
    QVERIFY(!isMainWindowClosed());
    pumpEvents();
    QCOMPARE(calls, 1);
    QCOMPARE(receiver.received, 1);
}

void DialogsTest::controlTextRoundTrips_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("checkShown");
    QTest::addColumn<QString>("shown");
    QTest::newRow("empty") << QByteArray() << true << QString();
    QTest::newRow("progress") << QByteArray("3/10") << true << u"3/10"_qs;
    QTest::newRow("code page 936") << QByteArray("\xD5\xC5\xC8\xFD") << true << u"张三"_qs;
    QTest::newRow("full-width space")
        << QByteArray("\xA1\xA1x\xA1\xA1") << true << u"\u3000x\u3000"_qs;
    QTest::newRow("four-byte form") << QByteArray("\x94\x39\xB6\x32") << true << u"🍀"_qs;
    QTest::newRow("markup and ampersand") << QByteArray("<b>&S</b>") << true << u"<b>&S</b>"_qs;
    // Not code page 936: whatever is shown, the bytes come back.
    QTest::newRow("stray bytes") << QByteArray("\xFF\x81 \x80") << false << QString();
}

void DialogsTest::controlTextRoundTrips() {
    QFETCH(QByteArray, text);
    QFETCH(bool, checkShown);
    QFETCH(QString, shown);
    QLabel label;
    label.setTextFormat(Qt::PlainText);
    QPushButton button;
    QLineEdit line;
    for (QWidget* control : std::initializer_list<QWidget*>{&label, &button, &line}) {
        const char* kind = control->metaObject()->className();
        setControlText(control, Text("old text"));
        setControlText(control, text);
        QVERIFY2(getControlText(control) == text, kind);
        if (checkShown)
            QVERIFY2(shownText(control) == shown, kind);
    }
}

void DialogsTest::controlTextIsReadEachTime() {
    QLineEdit line;
    setControlText(&line, Text("x"));
    line.selectAll();
    commitInput(&line, u"李毅"_qs);
    QTest::keyClicks(&line, u"ab"_qs);
    commitInput(&line, u"吧"_qs);
    QCOMPARE(getControlText(&line), QByteArray("\xC0\xEE\xD2\xE3"
                                               "ab\xB0\xC9"));
    QLabel label;
    setControlText(&label, Text("1/5"));
    label.setText(u"中"_qs);
    QCOMPARE(getControlText(&label), QByteArray("\xD6\xD0"));
    QPushButton button;
    setControlText(&button, Text("x"));
    button.setText(u"提取"_qs);
    QCOMPARE(getControlText(&button), QByteArray("\xCC\xE1\xC8\xA1"));
}

void DialogsTest::editAppendAddsAtTheEndOfALineEdit() {
    QLineEdit line;
    setControlText(&line, Text("ab"));
    QTest::keyClicks(&line, u"z"_qs);
    // The caret after "z" at the start with "a" selected: neither decides where text goes.
    line.setSelection(1, 1);
    editAppend(&line, {QByteArrayView("c"), QByteArrayView(), QByteArrayView("\xD5\xC5"),
                       QByteArrayView("\xC8"), QByteArrayView("\xFD")});
    QCOMPARE(getControlText(&line), QByteArray("zabc\xD5\xC5\xC8\xFD"));
    // Bytes of one character appended apart still show as that character.
    QCOMPARE(line.text(), u"zabc张三"_qs);
    QVERIFY(!line.hasSelectedText());
    QCOMPARE(line.cursorPosition(), line.text().size());
    // The appended text cannot be undone.
    QTest::keyClick(&line, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(getControlText(&line).endsWith("abc\xD5\xC5\xC8\xFD"));
}

PENNARO_WIDGET_TEST_MAIN(DialogsTest)
#include "dialogs_test.moc"

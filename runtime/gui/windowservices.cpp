#include "runtime/gui/windowservices.h"

#include "runtime/core/cp936codec.h"
#include "runtime/gui/listedit.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

namespace pennaro {

namespace {

bool g_mainWindowClosed = false;

QString boxText(const Text& text) {
    return Cp936Codec::decode(text, Cp936Codec::LineBreaks::Widget);
}

} // namespace

Text getControlText(const QWidget* control) {
    if (const auto* list = qobject_cast<const ListEdit*>(control))
        return list->bytes();
    if (const auto* edit = qobject_cast<const QPlainTextEdit*>(control))
        return Cp936Codec::encode(edit->document()->toRawText(), Cp936Codec::LineBreaks::Widget);
    if (const auto* line = qobject_cast<const QLineEdit*>(control))
        return Cp936Codec::encode(line->text());
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return Cp936Codec::encode(label->text());
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return Cp936Codec::encode(button->text());
    return {};
}

void setControlText(QWidget* control, const Text& text) {
    if (auto* list = qobject_cast<ListEdit*>(control)) {
        list->setBytes(text);
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) {
        edit->setPlainText(boxText(text));
    } else if (auto* line = qobject_cast<QLineEdit*>(control)) {
        line->setText(Cp936Codec::decode(text));
        line->setCursorPosition(0);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(Cp936Codec::decode(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(Cp936Codec::decode(text));
    }
}

void editAppend(QWidget* editBox, std::initializer_list<QByteArrayView> texts) {
    if (auto* list = qobject_cast<ListEdit*>(editBox)) {
        for (QByteArrayView text : texts)
            list->appendBytes(text);
    } else if (auto* line = qobject_cast<QLineEdit*>(editBox)) {
        // Replacing the whole text leaves nothing to undo, as an append must, and puts the caret
        // at the end, in view.
        for (QByteArrayView text : texts)
            line->setText(Cp936Codec::decode(getControlText(line).append(text)));
    }
}

int showMessage(const Text& text, int style, const std::optional<Text>& caption) {
    QMessageBox box;
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(caption && !caption->isEmpty() ? Cp936Codec::decode(*caption)
                                                      : u"信息："_qs);
    box.setTextFormat(Qt::PlainText);
    box.setText(Cp936Codec::decode(text));
    box.setIcon(QMessageBox::NoIcon);

    struct Button {
        QMessageBox::StandardButton button;
        int id;
    };
    static const std::initializer_list<Button> kSets[] = {
        {{QMessageBox::Ok, 1}},
        {{QMessageBox::Ok, 1}, {QMessageBox::Cancel, 2}},
        {{QMessageBox::Abort, 3}, {QMessageBox::Retry, 4}, {QMessageBox::Ignore, 5}},
        {{QMessageBox::Yes, 6}, {QMessageBox::No, 7}, {QMessageBox::Cancel, 2}},
        {{QMessageBox::Yes, 6}, {QMessageBox::No, 7}},
        {{QMessageBox::Retry, 4}, {QMessageBox::Cancel, 2}},
    };
    const int set = style & 0xF;
    const auto& buttons = kSets[set < int(std::size(kSets)) ? set : 0];
    QMessageBox::StandardButtons standard;
    for (const Button& b : buttons)
        standard |= b.button;
    box.setStandardButtons(standard);
    box.setDefaultButton(buttons.begin()->button);
    box.exec();
    const auto* clicked = box.clickedButton();
    for (const Button& b : buttons) {
        if (clicked != nullptr && box.button(b.button) == clicked)
            return b.id;
    }
    // Closed without a button: the escape button's number, Cancel where there is one.
    return buttons.size() == 1 ? buttons.begin()->id : 2;
}

void pumpEvents() {
    if (g_mainWindowClosed)
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void setMainWindowOpen(bool open) {
    g_mainWindowClosed = !open;
}

bool isMainWindowClosed() {
    return g_mainWindowClosed;
}

} // namespace pennaro

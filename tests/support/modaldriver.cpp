#include "tests/support/modaldriver.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace pennaro::testing {

ModalDriver::ModalDriver() {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
    m_timer.start();
}

ModalDriver::~ModalDriver() {
    m_timer.stop();
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        QApplication::processEvents();
    }
}

void ModalDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || modal == m_current)
        return;
    m_current = modal;
    ++m_handled;
    m_titles << modal->windowTitle();
    if (const auto* box = qobject_cast<QMessageBox*>(modal))
        m_texts << box->text();
    else if (const auto* prompt = modal->findChild<QLabel*>(u"prompt"_qs))
        m_texts << prompt->text();
    else
        m_texts << QString();
    if (m_actions.empty()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        return;
    }
    Action action = std::move(m_actions.front());
    m_actions.pop_front();
    action(modal);
}

ModalDriver::Action typeAndConfirm(const QString& text) {
    return [text](QWidget* dialog) {
        if (auto* edit = dialog->findChild<QLineEdit*>())
            edit->setText(text);
        if (auto* d = qobject_cast<QDialog*>(dialog))
            d->accept();
    };
}

ModalDriver::Action cancelDialog() {
    return [](QWidget* dialog) {
        if (auto* d = qobject_cast<QDialog*>(dialog))
            d->reject();
    };
}

ModalDriver::Action acceptMessage() {
    return [](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        if (box != nullptr && !box->buttons().isEmpty())
            box->buttons().first()->click();
    };
}

} // namespace pennaro::testing

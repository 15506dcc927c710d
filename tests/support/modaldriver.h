#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

namespace pennaro::testing {

// Answers the modal dialogs a piece of code opens, one action per dialog in order, from a timer
// that runs inside the dialogs' own event loops. Whatever is still open when the driver goes out
// of scope is rejected, so a failed check ends fast instead of hanging.
class ModalDriver final {
public:
    using Action = std::function<void(QWidget* dialog)>;

    ModalDriver();
    ~ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

    void then(Action action) { m_actions.push_back(std::move(action)); }

    int handled() const { return m_handled; }
    int pending() const { return static_cast<int>(m_actions.size()); }
    // Window titles of the dialogs in the order they were seen.
    const QStringList& titles() const { return m_titles; }
    const QStringList& texts() const { return m_texts; }

private:
    void poll();

    QTimer m_timer;
    std::deque<Action> m_actions;
    QPointer<QWidget> m_current;
    int m_handled = 0;
    QStringList m_titles;
    QStringList m_texts;
};

// Actions for the program's own dialogs.
ModalDriver::Action typeAndConfirm(const QString& text);
ModalDriver::Action cancelDialog();
ModalDriver::Action acceptMessage();

} // namespace pennaro::testing

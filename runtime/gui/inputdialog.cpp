#include "runtime/gui/inputdialog.h"

#include "runtime/core/cp936codec.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace pennaro {

InputDialog::InputDialog(const QString& prompt, const QString& title, const QString& initial,
                         Mode mode)
    : m_mode(mode), m_editor(new QLineEdit(initial, this)) {
    setWindowTitle(title.isEmpty() ? u"请输入："_qs : title);
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* layout = new QVBoxLayout(this);
    if (!prompt.isEmpty()) {
        auto* label = new QLabel(prompt, this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMinimumWidth(280);
        label->setObjectName(u"prompt"_qs);
        layout->addWidget(label);
    }
    if (m_mode == Mode::Password)
        m_editor->setEchoMode(QLineEdit::Password);
    m_editor->selectAll();
    m_editor->installEventFilter(this);
    layout->addWidget(m_editor);

    auto* ok = new QPushButton(u"确认输入(&O)"_qs, this);
    auto* cancel = new QPushButton(u"取消(&C)"_qs, this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
}

QString InputDialog::typedText() const {
    return m_editor->text();
}

InputDialog::Mode InputDialog::modeFromNumber(int inputMode) {
    return static_cast<Mode>(std::clamp(inputMode, 1, 4));
}

bool InputDialog::accepts(QChar c) const {
    switch (m_mode) {
    case Mode::Integer:
        return c == u'-' || (c >= u'0' && c <= u'9');
    case Mode::Decimal:
        return c == u'-' || c == u'.' || (c >= u'0' && c <= u'9');
    default:
        return true;
    }
}

bool InputDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_editor && (m_mode == Mode::Integer || m_mode == Mode::Decimal)) {
        // Only typing is filtered; pasted text goes in as it is.
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const QString text = key->text();
            // Not isPrint(): it is false for surrogates and private-use characters, which a
            // keyboard types all the same.
            const bool printable = !text.isEmpty() &&
                                   text.at(0).category() != QChar::Other_Control &&
                                   !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
            if (printable &&
                !std::all_of(text.begin(), text.end(), [this](QChar c) { return accepts(c); }))
                return true;
        } else if (event->type() == QEvent::InputMethod) {
            auto* im = static_cast<QInputMethodEvent*>(event);
            QString commit = im->commitString();
            commit.removeIf([this](QChar c) { return !accepts(c); });
            if (commit != im->commitString()) {
                QInputMethodEvent filtered(im->preeditString(), im->attributes());
                filtered.setCommitString(commit, im->replacementStart(), im->replacementLength());
                QCoreApplication::sendEvent(m_editor, &filtered);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void InputDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
    m_editor->setFocus();
}

qint32 integerFromTypedText(QByteArrayView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    quint32 value = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + static_cast<quint32>(text[i] - '0');
    if (negative)
        value = 0u - value;
    return static_cast<qint32>(value);
}

namespace {

bool runDialog(const Text& prompt, const Text& title, const Text& initial, int inputMode,
               QString& typed) {
    InputDialog dialog(Cp936Codec::decode(prompt), Cp936Codec::decode(title),
                       Cp936Codec::decode(initial), InputDialog::modeFromNumber(inputMode));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    typed = dialog.typedText();
    return true;
}

} // namespace

bool askInput(const Text& prompt, const Text& title, const Text& initial, Text& variable,
              int inputMode) {
    QString typed;
    if (!runDialog(prompt, title, initial, inputMode, typed))
        return false;
    variable = Cp936Codec::encode(typed);
    return true;
}

bool askInput(const Text& prompt, const Text& title, const Text& initial, qint32& variable,
              int inputMode) {
    QString typed;
    if (!runDialog(prompt, title, initial, inputMode, typed))
        return false;
    variable = integerFromTypedText(Cp936Codec::encode(typed));
    return true;
}

} // namespace pennaro

#include "runtime/gui/listedit.h"

#include "runtime/core/cp936codec.h"

#include <QCoreApplication>
#include <QTextCursor>

#include <utility>

namespace pennaro {

namespace {
constexpr auto kBreaks = Cp936Codec::LineBreaks::Widget;
}

ListEdit::ListEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    connect(document(), &QTextDocument::contentsChange, this, &ListEdit::onContentsChange);
}

const SubstringIndex& ListEdit::image() const {
    if (!m_imageCurrent) {
        m_image.assign(Cp936Codec::encode(document()->toRawText(), kBreaks));
        m_imageCurrent = true;
    }
    return m_image;
}

Text ListEdit::bytes() const {
    return image().text();
}

bool ListEdit::containsText(QByteArrayView sought) const {
    return image().contains(sought);
}

void ListEdit::setBytes(const Text& text) {
    m_pending.clear();
    QCoreApplication::instance()->removeEventFilter(this);
    m_ownChange = true;
    setPlainText(Cp936Codec::decode(text, kBreaks));
    m_ownChange = false;
    m_image.assign(text);
    m_imageCurrent = true;
}

void ListEdit::appendBytes(QByteArrayView text) {
    if (text.isEmpty())
        return;
    image();
    m_image.append(text);
    if (m_pending.isEmpty()) {
        // Whichever event comes first, anywhere in the program, finds the document up to date;
        // the posted call makes sure there is one.
        QCoreApplication::instance()->installEventFilter(this);
        QMetaObject::invokeMethod(this, &ListEdit::flushAppends, Qt::QueuedConnection);
    }
    m_pending.append(text);
}

void ListEdit::flushAppends() {
    if (m_pending.isEmpty())
        return;
    // Taken first: the insertion itself sends events, which come back here.
    const Text pending = std::exchange(m_pending, Text());
    QCoreApplication::instance()->removeEventFilter(this);
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    m_ownChange = true;
    // Appends are not undoable: switching undo off for the insertion keeps it off the stack.
    document()->setUndoRedoEnabled(false);
    cursor.insertText(Cp936Codec::decode(pending, kBreaks));
    document()->setUndoRedoEnabled(true);
    m_ownChange = false;
    setTextCursor(cursor);
    ensureCursorVisible();
}

void ListEdit::insertLineBreak() {
    flushAppends();
    textCursor().insertBlock();
    ensureCursorVisible();
}

bool ListEdit::eventFilter(QObject* watched, QEvent* event) {
    flushAppends();
    return QPlainTextEdit::eventFilter(watched, event);
}

void ListEdit::onContentsChange() {
    if (!m_ownChange)
        m_imageCurrent = false;
}

} // namespace pennaro

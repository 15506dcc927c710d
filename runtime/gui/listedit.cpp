#include "runtime/gui/listedit.h"

#include "runtime/core/cp936codec.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

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
    m_ownChange = true;
    setPlainText(Cp936Codec::decode(text, kBreaks));
    m_ownChange = false;
    m_image.assign(text);
    m_imageCurrent = true;
}

void ListEdit::appendBytes(QByteArrayView text) {
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    m_ownChange = true;
    // Appends are not undoable: switching undo off for the insertion keeps it off the stack.
    document()->setUndoRedoEnabled(false);
    cursor.insertText(Cp936Codec::decode(text, kBreaks));
    document()->setUndoRedoEnabled(true);
    m_ownChange = false;
    if (m_imageCurrent)
        m_image.append(text);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void ListEdit::onContentsChange() {
    if (!m_ownChange)
        m_imageCurrent = false;
}

} // namespace pennaro

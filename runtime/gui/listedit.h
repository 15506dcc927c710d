#pragma once

#include "runtime/core/substringindex.h"

#include <QPlainTextEdit>

namespace pennaro {

// The multi-line edit box. It speaks the program's bytes and keeps them exact: text put in
// comes back byte for byte until the user edits it (see Cp936Codec's widget mode).
//
// A byte image of the content is kept in step with the document, so reading or searching the box
// does not convert it: appends made through appendBytes() extend the image; any other change of
// the document (typing, pasting, undo) marks it stale and the next read rebuilds it.
//
// Laying out text is what an append costs, so appends reach the document together, before the
// program handles its next event of any kind. Until then the image already holds them, so reads
// and searches see every append at once.
class ListEdit final : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit ListEdit(QWidget* parent = nullptr);

    Text bytes() const;
    // Whether searchText() would find `sought` in bytes(), without scanning them all.
    bool containsText(QByteArrayView sought) const;
    void setBytes(const Text& text);
    // At the end of the content, with the caret after it and the view following; not undoable.
    void appendBytes(QByteArrayView text);
    // A line break typed at the caret.
    void insertLineBreak();
    // Puts the appends made so far into the document.
    void flushAppends();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onContentsChange();
    const SubstringIndex& image() const;

    mutable SubstringIndex m_image;
    mutable bool m_imageCurrent = true;
    bool m_ownChange = false;
    Text m_pending;
};

} // namespace pennaro

#pragma once

#include "runtime/core/textdefs.h"

#include <QDialog>

class QLineEdit;

namespace pennaro {

// The modal input dialog behind askInput().
class InputDialog final : public QDialog {
    Q_OBJECT

public:
    enum class Mode { Text = 1, Integer = 2, Decimal = 3, Password = 4 };

    InputDialog(const QString& prompt, const QString& title, const QString& initial, Mode mode);

    QString typedText() const;
    QLineEdit* editor() const { return m_editor; }
    static Mode modeFromNumber(int inputMode);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool accepts(QChar c) const;

    Mode m_mode;
    QLineEdit* m_editor;
};

// Reads typed text as a whole number: leading white space, an optional sign, then digits up to
// the first other character, accumulated in 32 bits with wrap-around; 0 without digits.
qint32 integerFromTypedText(QByteArrayView text);

// Shows the dialog; on OK stores what was typed into `variable` and returns true; on Cancel
// returns false and leaves `variable` as it was. A missing title gives the caption "请输入：".
bool askInput(const Text& prompt, const Text& title, const Text& initial, Text& variable,
              int inputMode = 1);
bool askInput(const Text& prompt, const Text& title, const Text& initial, qint32& variable,
              int inputMode = 1);

} // namespace pennaro

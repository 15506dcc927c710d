#pragma once

#include "runtime/core/textdefs.h"

#include <initializer_list>
#include <optional>

class QWidget;

namespace pennaro {

// The text of a control as the program's bytes: an edit box's content (lines joined by "\r\n"),
// a label's or button's caption.
Text getControlText(const QWidget* control);
void setControlText(QWidget* control, const Text& text);
// Appends each text in order at the end of an edit box, the caret after it and in view.
void editAppend(QWidget* editBox, std::initializer_list<QByteArrayView> texts);

// A task-modal message box with no owner; the caption is "信息：" unless one is given.
// Style 0 is the single button OK; the low digit picks the button set as on Windows (1 OK and
// Cancel, 2 Abort/Retry/Ignore, 3 Yes/No/Cancel, 4 Yes/No, 5 Retry/Cancel). Returns the number
// of the button that closed it, as on Windows (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore,
// 6 Yes, 7 No).
int showMessage(const Text& text, int style = 0, const std::optional<Text>& caption = {});

// Runs the window events waiting now and returns; once the main window has been closed it
// returns at once, so a handler still running can notice and stop.
void pumpEvents();
// The main window tells when it opens and when it has been closed.
void setMainWindowOpen(bool open);
bool isMainWindowClosed();

} // namespace pennaro

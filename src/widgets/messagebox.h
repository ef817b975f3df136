#pragma once
// The program's one message box: modal, captioned with the executable's name, OK, Yes/No or
// OK/Cancel. Callable from any thread: a worker's call is carried to the user-interface thread
// and the worker waits for the answer there.

#include <QString>

class QWidget;

namespace widgets::msgbox {

// Answers carry the Windows button ids, which page scripts and callers compare against.
enum Answer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };
enum Buttons { OkOnly, YesNo, OkCancel };

Answer Show(const QString& text, Buttons buttons = OkOnly, QWidget* owner = nullptr);

// Test seam: the next box is not shown but answered with `answer` (queue; one per box).
void SetNextAnswer(Answer answer);
// Texts of the boxes answered through the seam, oldest first; taking them clears the list.
QStringList TakeAnsweredTexts();

} // namespace widgets::msgbox

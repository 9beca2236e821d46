#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace lumira {

// The program's only message box: "确定要退出"Lumira"吗？" with Yes and No, Yes the default,
// above every window. True when the user answers Yes.
bool askToExit(QWidget* window, const QString& title);

// Tests answer the prompt here; an empty function restores the real message box.
void setExitPromptAnswerer(std::function<bool(const QString& title)> answerer);

} // namespace lumira

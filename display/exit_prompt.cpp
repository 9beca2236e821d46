#include "display/exit_prompt.h"

#include "ui/window_centre.h"

#include <QMessageBox>
#include <QPushButton>

namespace lumira {

namespace {

// Centred on the screen, where the operator looks, as the other windows are; a message box
// centres itself on its parent, which here is the sign the public reads.
class ExitPrompt final : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event); // sizes the box and places it over the parent
        centreOnScreen(*this);
    }
};

std::function<bool(const QString&)>& answerer() {
    static std::function<bool(const QString&)> current;
    return current;
}
} // namespace

bool askToExit(QWidget* window, const QString& title) {
    if (answerer())
        return answerer()(title);
    ExitPrompt box(QMessageBox::Question, title, QStringLiteral("确定要退出\"Lumira\"吗？"),
                   QMessageBox::Yes | QMessageBox::No, window);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec() == QMessageBox::Yes;
}

void setExitPromptAnswerer(std::function<bool(const QString& title)> replacement) {
    answerer() = std::move(replacement);
}

} // namespace lumira

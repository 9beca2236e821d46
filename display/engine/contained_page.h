#pragma once

#include <QWebEnginePage>

// The page of the sign: it shows itself and nothing else. No new windows, no script
// dialogs, no full screen, no permission prompts, no downloads; window.close() is ignored.
class ContainedPage final : public QWebEnginePage {
    Q_OBJECT
public:
    explicit ContainedPage(QObject* parent);

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& origin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int line, const QString& source) override;
};

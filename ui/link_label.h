#pragma once

#include <QLabel>

// A label that reads as a link: blue, underlined, a pointing hand over it, and a click.
class LinkLabel final : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, QWidget* parent);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

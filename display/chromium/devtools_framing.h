// The framing of the DevTools pipe between the program and Chromium.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <vector>

namespace lumira::chromium {

// Messages on the DevTools pipe: JSON texts, each ended by a NUL byte, read in pieces of any
// size.
class PipeFraming {
public:
    static constexpr qsizetype kMaxMessage = 256 * 1024 * 1024;

    // `maxMessage`: the longest message taken; smaller ones serve the tests.
    explicit PipeFraming(qsizetype maxMessage = kMaxMessage) : maxMessage_(maxMessage) {}

    // Takes bytes as read; returns the complete messages they end, in order. A message that is
    // not a JSON object is dropped and counted. A message longer than the limit is dropped up
    // to its NUL and counted once, without being kept meanwhile.
    std::vector<QJsonObject> take(const QByteArray& bytes);
    int badMessages() const { return bad_; }

    static QByteArray frame(const QJsonObject& message); // compact JSON + NUL

private:
    void finish(QByteArrayView message, std::vector<QJsonObject>& out);

    qsizetype maxMessage_;
    QByteArray pending_;    // the start of a message whose NUL has not come yet
    bool skipping_ = false; // within an over-long message, until its NUL
    int bad_ = 0;
};

} // namespace lumira::chromium

#include "display/chromium/failure_reason.h"

namespace lumira::chromium {

namespace {

constexpr qsizetype kLongestReason = 100;

// The error name as a one-line reason: printable ASCII only, at most kLongestReason
// characters, since it goes into the status report and the log as it is.
QString oneLine(const QString& text) {
    QString out;
    for (const QChar c : text.trimmed()) {
        if (out.size() == kLongestReason)
            break;
        out.append(c.unicode() >= 0x20 && c.unicode() < 0x7f ? c : QChar(u'?'));
    }
    return out;
}

} // namespace

QString navigateFailure(const QString& errorText) {
    const QString reason = oneLine(errorText);
    if (reason.isEmpty() || reason == u"net::ERR_ABORTED")
        return {};
    // Chromium's name for an error status whose page it would have shown.
    if (reason == u"net::ERR_HTTP_RESPONSE_CODE_FAILURE")
        return QStringLiteral("HTTP error");
    return reason;
}

QString statusFailure(int httpStatus) {
    return httpStatus >= 400 ? QStringLiteral("HTTP %1").arg(httpStatus) : QString();
}

QString loadingFailure(const QString& errorText, bool canceled) {
    if (canceled)
        return {};
    const QString reason = navigateFailure(errorText);
    if (reason.isEmpty() && oneLine(errorText).isEmpty())
        return QStringLiteral("load failed");
    return reason;
}

} // namespace lumira::chromium

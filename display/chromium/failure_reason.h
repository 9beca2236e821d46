// What Chromium reports about a failed load, in the words the status report shows: the same
// words the Qt WebEngine module gives for the same failure (the engine's error name such as
// "net::ERR_CONNECTION_REFUSED", or "HTTP 500").
#pragma once

#include <QString>

namespace lumira::chromium {

// Page.navigate's errorText ("net::ERR_NAME_NOT_RESOLVED"), empty when none: the reason for the
// status report; empty when it is no failure (net::ERR_ABORTED: a load replaced by a newer one
// or stopped on purpose). An error page for an HTTP error status reads "HTTP error"; the
// module that knows the status gives statusFailure instead.
QString navigateFailure(const QString& errorText);

// The main document's HTTP status: "HTTP 503" at 400 and above, empty below.
QString statusFailure(int httpStatus);

// Network.loadingFailed for the main document: errorText and canceled; empty when it is no
// failure (canceled, or aborted).
QString loadingFailure(const QString& errorText, bool canceled);

} // namespace lumira::chromium

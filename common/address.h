#pragma once

#include <QString>
#include <QUrl>

namespace lumira {

// An address as a browser's address bar reads it:
// - anything with a scheme ("http://…", "file:///…", "about:blank") is taken as it is;
// - an absolute path is a local file;
// - a relative name that exists in `folder` ("start.htm", "pages/a.htm") is that file;
// - anything else is a web address, http by default ("www.example.cn/led.htm",
//   "192.168.1.9:8080/led.htm", "localhost:8080").
// The result is invalid for text that cannot be an address at all.
QUrl addressToUrl(const QString& address, const QString& folder);

} // namespace lumira

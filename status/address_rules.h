// What the status server does with the sign's address: which new address a command may give,
// and how much of the saved one a reader sees. Pure rules, apart from the server.
#pragma once

#include <QString>
#include <optional>
#include <string>

namespace lumira {

// Why an address sent to the server is refused, in one line; nothing when it is taken. A taken
// address reads back from lumira.ini exactly as it was sent (see readIniValue: blanks around
// a value and a pair of quotation marks around all of it are not part of it), and it is a web
// address, http or https, as the sign reads it (see addressToUrl: "www.example.cn/led.htm" is
// http; `folder` is where a relative name may be a local file, which is refused). Files,
// scripts and the engine's own pages are for the operator at the PC, in the settings window.
std::optional<std::string> refusedAddress(const QString& address, const QString& folder);

// The address as shown to a reader who has not shown the token: scheme, host, port and path,
// without the user's name and password, the query and the fragment, which may hold secrets.
QString addressWithoutSecrets(const QString& address, const QString& folder);

} // namespace lumira

// Who may ask the status server what, and where it listens: pure rules, kept apart from the
// server so that they can be checked without a network.
#pragma once

#include <string>

namespace lumira {

// Where the server listens, from the options Status and StatusToken.
struct ListenPlan {
    bool enabled = false;
    std::string host; // an address literal: 127.0.0.1 unless a token allows another
    int port = 0;
    std::string warning; // one line for the log, empty when all is as written
};

// A token counts only from this many characters on; a shorter one is no token at all.
inline constexpr int kTokenMinimum = 16;

bool tokenSet(const std::string& token);

// "8750" listens on 127.0.0.1:8750; "ADDRESS:8750" ("[v6]:8750" for IPv6) listens there when
// the token is set, else on 127.0.0.1:8750 with a warning; anything else: off, with a warning.
ListenPlan planListening(const std::string& status, const std::string& token);

// 127.0.0.0/8, ::1 and the IPv4-mapped loopback.
bool loopbackAddress(const std::string& ip);

// What a request brings to be judged by.
struct Asker {
    bool loopbackPeer = false;
    std::string host;          // the Host header
    std::string authorization; // the Authorization header
    bool command = false;      // a request that changes the sign (POST)
};

enum class Admission {
    Allowed,
    WrongHost, // 403: a name that is not the loopback's, e.g. a web page's rebound name
    NoToken,   // 403: a command, and no token is set
    NeedsAuth, // 401: the token is missing or wrong
};

// The rules: a command needs the token as a bearer token, everywhere; any other request needs
// the token (bearer or as a Basic password) from a peer beyond the loopback; on the loopback
// the Host must be 127.0.0.1, localhost or [::1] with the server's port.
Admission admit(const Asker& asker, int port, const std::string& token);

// Whether a reader of the report sees the whole address, passwords and queries included: only
// one who shows the token (Bearer, or Basic with the token as the password). With no token set
// nobody does over HTTP; `lumira --status`, which only the sign's own user can ask, does.
bool readsWholeAddress(const std::string& authorization, const std::string& token);

// Equal secrets, compared in a time that does not depend on where they differ or their length.
bool sameSecret(const std::string& a, const std::string& b);

} // namespace lumira

#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace harness {

// What came back for one request sent over a connection of its own.
struct HttpReply {
    enum class Outcome {
        Answered, // a whole response: status line, headers and the body they announce
        Closed,   // closed or reset by the server before a whole response
        Refused,  // nothing listens there
        TimedOut, // neither a whole response nor a close within the time given
    };
    Outcome outcome = Outcome::Closed;
    int status = 0;                                           // 0 when no status line came
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::string body;
    double ms = 0; // from the start of the connect to the end of the response or the wait

    std::optional<std::string> header(const std::string& lowerCaseName) const;
    bool answered(int code) const { return outcome == Outcome::Answered && status == code; }
};
const char* outcomeName(HttpReply::Outcome outcome);

// Sends `request` byte for byte to `address` (IPv4, dotted) and `port` and reads one response,
// framed by Content-Length, chunks or the close. When the server answers or closes before the
// whole request went out, what it sent is read all the same. `from`: the local address to send
// from (any of 127.0.0.0/8 reaches a server on the loopback), else the system's choice. Safe to
// call from any thread.
HttpReply httpExchange(const std::string& address, unsigned short port, const std::string& request,
                       std::chrono::milliseconds timeout, const std::string& from = {});

// An HTTP/1.1 request with the given Host (no Host line when empty), `extraHeaders` (whole lines,
// each ending in CR LF), Content-Length when there is a body or the method is not GET, and
// Connection: close.
std::string httpRequest(const std::string& method, const std::string& target,
                        const std::string& host, const std::string& extraHeaders = "",
                        const std::string& body = "");

// "127.0.0.1:PORT", the Host a local client sends.
std::string loopbackHost(unsigned short port);

// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
unsigned short freeLoopbackPort();

} // namespace harness

#include "http_client.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        if (fd_ < 0)
            throw std::runtime_error("no socket");
    }
    ~Socket() { ::close(fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

enum class Framing { Incomplete, Complete, Invalid };

Framing dechunk(const std::string& data, size_t pos, std::string& body) {
    body.clear();
    for (;;) {
        const size_t lineEnd = data.find("\r\n", pos);
        if (lineEnd == std::string::npos)
            return Framing::Incomplete;
        const std::string sizeText = data.substr(pos, lineEnd - pos);
        if (sizeText.empty() || !std::isxdigit(static_cast<unsigned char>(sizeText[0])))
            return Framing::Invalid;
        const unsigned long long size = std::strtoull(sizeText.c_str(), nullptr, 16);
        if (size > (1ull << 30))
            return Framing::Invalid;
        pos = lineEnd + 2;
        if (size == 0) { // trailer lines up to an empty one
            for (;;) {
                const size_t end = data.find("\r\n", pos);
                if (end == std::string::npos)
                    return Framing::Incomplete;
                if (end == pos)
                    return Framing::Complete;
                pos = end + 2;
            }
        }
        if (data.size() < pos + size + 2)
            return Framing::Incomplete;
        body.append(data, pos, size);
        pos += size;
        if (data.compare(pos, 2, "\r\n") != 0)
            return Framing::Invalid;
        pos += 2;
    }
}

// Whether `data` holds a whole response (interim 1xx responses skipped); fills `reply` as far
// as it goes. `closed`: the server has closed, which ends a body of no announced length.
Framing parseResponse(const std::string& data, bool closed, HttpReply& reply) {
    size_t start = 0;
    for (;;) {
        const size_t end = data.find("\r\n\r\n", start);
        if (end == std::string::npos)
            return closed ? Framing::Invalid : Framing::Incomplete;
        const std::string head = data.substr(start, end - start);
        if (head.rfind("HTTP/1.", 0) != 0 || head.size() < 12 || head[8] != ' ')
            return Framing::Invalid;
        reply.status = std::atoi(head.substr(9, 3).c_str());
        reply.headers.clear();
        for (size_t line = head.find("\r\n"); line != std::string::npos;) {
            const size_t next = head.find("\r\n", line + 2);
            const std::string text = head.substr(
                line + 2, next == std::string::npos ? std::string::npos : next - line - 2);
            const size_t colon = text.find(':');
            if (colon == std::string::npos)
                return Framing::Invalid;
            reply.headers.emplace_back(lowerCase(trimmed(text.substr(0, colon))),
                                       trimmed(text.substr(colon + 1)));
            line = next;
        }
        if (reply.status >= 100 && reply.status < 200) {
            start = end + 4;
            continue;
        }
        const size_t bodyStart = end + 4;
        if (reply.status == 204 || reply.status == 304) {
            reply.body.clear();
            return Framing::Complete;
        }
        if (lowerCase(reply.header("transfer-encoding").value_or("")).find("chunked") !=
            std::string::npos) {
            const Framing framing = dechunk(data, bodyStart, reply.body);
            return closed && framing == Framing::Incomplete ? Framing::Invalid : framing;
        }
        if (const auto length = reply.header("content-length")) {
            if (length->empty() || length->find_first_not_of("0123456789") != std::string::npos)
                return Framing::Invalid;
            const size_t wanted = std::strtoull(length->c_str(), nullptr, 10);
            if (data.size() - bodyStart < wanted)
                return closed ? Framing::Invalid : Framing::Incomplete;
            reply.body = data.substr(bodyStart, wanted);
            return Framing::Complete;
        }
        reply.body = data.substr(bodyStart);
        return closed ? Framing::Complete : Framing::Incomplete;
    }
}

} // namespace

std::optional<std::string> HttpReply::header(const std::string& lowerCaseName) const {
    for (const auto& [name, value] : headers) {
        if (name == lowerCaseName)
            return value;
    }
    return std::nullopt;
}

const char* outcomeName(HttpReply::Outcome outcome) {
    switch (outcome) {
    case HttpReply::Outcome::Answered:
        return "answered";
    case HttpReply::Outcome::Closed:
        return "closed";
    case HttpReply::Outcome::Refused:
        return "refused";
    case HttpReply::Outcome::TimedOut:
        return "timed out";
    }
    return "?";
}

HttpReply httpExchange(const std::string& address, unsigned short port, const std::string& request,
                       std::chrono::milliseconds timeout, const std::string& from) {
    HttpReply reply;
    const auto started = Clock::now();
    const auto deadline = started + timeout;
    const auto finish = [&](HttpReply::Outcome outcome) {
        reply.outcome = outcome;
        reply.ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        return reply;
    };
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1)
        throw std::invalid_argument("not an IPv4 address: " + address);
    Socket socket;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (!from.empty() &&
        (::inet_pton(AF_INET, from.c_str(), &local.sin_addr) != 1 ||
         ::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0))
        throw std::invalid_argument("cannot send from " + from);
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno == ECONNREFUSED)
            return finish(HttpReply::Outcome::Refused);
        if (errno != EINPROGRESS)
            return finish(HttpReply::Outcome::Closed);
        pollfd connecting{socket.fd(), POLLOUT, 0};
        if (::poll(&connecting, 1, msLeft(deadline)) <= 0)
            return finish(HttpReply::Outcome::TimedOut);
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (error == ECONNREFUSED)
            return finish(HttpReply::Outcome::Refused);
        if (error != 0)
            return finish(HttpReply::Outcome::Closed);
    }

    size_t sent = 0;
    std::string data;
    std::string buffer(64 * 1024, '\0');
    for (;;) {
        pollfd waiting{socket.fd(), short(POLLIN | (sent < request.size() ? POLLOUT : 0)), 0};
        const int ready = ::poll(&waiting, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return finish(HttpReply::Outcome::TimedOut);
        if (waiting.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t got = ::recv(socket.fd(), buffer.data(), buffer.size(), 0);
            if (got > 0) {
                data.append(buffer, 0, size_t(got));
                sent = request.size(); // the server has spoken: the rest of the request is moot
                if (parseResponse(data, false, reply) == Framing::Complete)
                    return finish(HttpReply::Outcome::Answered);
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            return finish(parseResponse(data, true, reply) == Framing::Complete
                              ? HttpReply::Outcome::Answered
                              : HttpReply::Outcome::Closed);
        }
        if (waiting.revents & POLLOUT) {
            const ssize_t put =
                ::send(socket.fd(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (put > 0)
                sent += size_t(put);
            else if (put < 0 && errno != EAGAIN && errno != EINTR)
                sent = request.size(); // closed or reset: read whatever came before
        }
    }
}

std::string httpRequest(const std::string& method, const std::string& target,
                        const std::string& host, const std::string& extraHeaders,
                        const std::string& body) {
    std::string request = method + " " + target + " HTTP/1.1\r\n";
    if (!host.empty())
        request += "Host: " + host + "\r\n";
    request += extraHeaders;
    if (!body.empty() || method != "GET")
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return request + "Connection: close\r\n\r\n" + body;
}

std::string loopbackHost(unsigned short port) {
    return "127.0.0.1:" + std::to_string(port);
}

unsigned short freeLoopbackPort() {
    Socket socket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot find a free port");
    return ntohs(address.sin_port);
}

} // namespace harness

#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QTcpServer>
#include <string>
#include <vector>

namespace harness {

// A tiny HTTP/1.1 server on 127.0.0.1 standing in for the web page the sign shows. It answers
// every request with one configurable response and remembers what was asked and when. It lives
// in the test's thread, so the test must keep Qt events flowing (see waitUntil).
class LoopbackHttpServer {
public:
    struct Request {
        std::string method;
        std::string path; // request target as sent, query included
        qint64 msSinceStart = 0;
    };

    LoopbackHttpServer(); // picks a free port; throws std::runtime_error if it cannot listen
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    quint16 port() const { return port_; }
    QString url(const QString& path = "/") const;
    // Status 0: the request is recorded and the connection held open without an answer, as a
    // server that hangs.
    void setResponse(int status, QByteArray body, QByteArray contentType = "text/html");
    // Requests for `path` (query aside) are recorded and never answered, whatever the response.
    void hangOn(const std::string& path) { hanging_.push_back(path); }

    // Requests in arrival order; /favicon.ico is answered with 404 and not recorded.
    std::vector<Request> requests() const { return requests_; }
    void clearRequests() { requests_.clear(); }
    qint64 msSinceStart() const { return clock_.elapsed(); } // same clock as Request

    void stop();        // closes the port (connections are refused) and drops open connections
    bool listenAgain(); // listens again on the same port
    bool isListening() const { return server_.isListening(); }

private:
    void accept();
    // Answers once the whole request is in `buffer`; returns false while more is needed.
    bool tryAnswer(QTcpSocket* socket, const QByteArray& buffer);
    void answer(QTcpSocket* socket, int status, const QByteArray& body,
                const QByteArray& contentType, bool headOnly);

    QTcpServer server_;
    quint16 port_ = 0;
    QElapsedTimer clock_;
    int status_ = 200;
    QByteArray body_ = "<html><body>ok</body></html>";
    QByteArray contentType_ = "text/html";
    std::vector<Request> requests_;
    std::vector<std::string> hanging_;
};

} // namespace harness

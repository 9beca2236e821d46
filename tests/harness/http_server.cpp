#include "http_server.h"

#include <QTcpSocket>
#include <algorithm>
#include <memory>
#include <stdexcept>

namespace harness {

namespace {

constexpr qsizetype kMaxHeaderBytes = 64 * 1024;

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { accept(); });
    if (!server_.listen(QHostAddress::LocalHost, 0)) {
        throw std::runtime_error("cannot listen on 127.0.0.1: " +
                                 server_.errorString().toStdString());
    }
    port_ = server_.serverPort();
    clock_.start();
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stop();
}

QString LoopbackHttpServer::url(const QString& path) const {
    return QString("http://127.0.0.1:%1%2")
        .arg(port_)
        .arg(path.startsWith('/') ? path : "/" + path);
}

void LoopbackHttpServer::setResponse(int status, QByteArray body, QByteArray contentType) {
    status_ = status;
    body_ = std::move(body);
    contentType_ = std::move(contentType);
}

void LoopbackHttpServer::stop() {
    server_.close();
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) {
        socket->abort();
    }
}

bool LoopbackHttpServer::listenAgain() {
    return server_.isListening() || server_.listen(QHostAddress::LocalHost, port_);
}

void LoopbackHttpServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        auto answered = std::make_shared<bool>(false);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [=, this] {
            buffer->append(socket->readAll());
            if (!*answered) {
                *answered = tryAnswer(socket, *buffer);
            }
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

bool LoopbackHttpServer::tryAnswer(QTcpSocket* socket, const QByteArray& buffer) {
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (buffer.size() > kMaxHeaderBytes) {
            answer(socket, 400, {}, "text/plain", false);
            return true;
        }
        return false;
    }
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.front().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/")) {
        answer(socket, 400, {}, "text/plain", false);
        return true;
    }
    qint64 contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0 && lines[i].left(colon).trimmed().toLower() == "content-length") {
            contentLength = lines[i].mid(colon + 1).trimmed().toLongLong();
        }
    }
    if (buffer.size() < headerEnd + 4 + contentLength) {
        return false; // the body is still on its way
    }

    const QByteArray& method = requestLine[0];
    const QByteArray& target = requestLine[1];
    const qsizetype query = target.indexOf('?');
    if ((query < 0 ? target : target.left(query)) == "/favicon.ico") {
        answer(socket, 404, "not found", "text/plain", method == "HEAD");
        return true;
    }
    requests_.push_back({method.toStdString(), target.toStdString(), clock_.elapsed()});
    const std::string path = (query < 0 ? target : target.left(query)).toStdString();
    const bool hangs = std::find(hanging_.begin(), hanging_.end(), path) != hanging_.end();
    if (status_ != 0 && !hangs)
        answer(socket, status_, body_, contentType_, method == "HEAD");
    return true;
}

void LoopbackHttpServer::answer(QTcpSocket* socket, int status, const QByteArray& body,
                                const QByteArray& contentType, bool headOnly) {
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + " " + reasonPhrase(status) +
                          "\r\nContent-Type: " + contentType +
                          "\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    if (!headOnly) {
        response += body;
    }
    socket->write(response);
    socket->disconnectFromHost(); // after the pending bytes are written
}

} // namespace harness

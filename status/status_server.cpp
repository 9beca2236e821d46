#include "status/status_server.h"

#include "common/program_folder.h"
#include "status/address_rules.h"
#include "status/sign_watch.h"

#include <QBuffer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <arpa/inet.h>
#include <cstdio>
#include <microhttpd.h>
#include <sys/socket.h>

namespace lumira {

namespace {

using namespace std::chrono_literals;

// Any more connections, or any more from one address, are closed at once.
constexpr unsigned kMaxConnections = 16;
constexpr unsigned kMaxPerPeer = 4;
constexpr unsigned kBacklog = 64;
// All the library keeps of a connection: the request line and headers must fit in it.
constexpr size_t kConnectionMemory = 16 * 1024;
// A connection ends this long after it was accepted, however slowly its client sends or reads.
constexpr auto kConnectionLifetime = 5000ms;
constexpr unsigned kIdleSeconds = 2;    // ... or once it has been silent this long
constexpr size_t kBodyRead = 64 * 1024; // a connection sending a longer body is closed
constexpr size_t kBodyMax = 4096;       // a longer new address is answered 413
// The window's thread answers within it, or the request is answered 503.
constexpr auto kWindowAnswer = 2s;
constexpr auto kPictureShared = 1s;
constexpr int kPngQuality = 80; // light compression: a 1920x1080 picture in a few milliseconds

StatusServer::Reply failure(int status, const char* error) {
    return {status, QJsonDocument(QJsonObject{{"error", error}}).toJson(QJsonDocument::Compact)};
}

// The window's answer as HTTP: its reasons are the ones lumira --reload and --address print.
StatusServer::Reply answerOutcome(std::optional<SignWatch::Outcome> outcome) {
    using Outcome = SignWatch::Outcome;
    if (!outcome)
        return failure(503, "the sign does not answer");
    switch (*outcome) {
    case Outcome::Done:
        return {200, "{\"ok\":true}"};
    case Outcome::NoWindow:
        return failure(503, whyNotDone(*outcome));
    case Outcome::Dark:
    case Outcome::SettingsOpen:
        return failure(409, whyNotDone(*outcome));
    case Outcome::NotSaved:
        break;
    }
    return failure(500, whyNotDone(*outcome));
}

QByteArray encodePng(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", kPngQuality);
    return png;
}

// The address a POST /address carries: the target's url argument, else a form field or a JSON
// member named url.
QString postedAddress(const StatusServer::Request& req) {
    if (!req.queryUrl.empty())
        return QString::fromStdString(req.queryUrl);
    if (req.contentType.starts_with("application/json"))
        return QJsonDocument::fromJson(QByteArray::fromStdString(req.body))["url"].toString();
    if (!req.contentType.starts_with("application/x-www-form-urlencoded"))
        return {};
    const auto decoded = [](QByteArray text) {
        return QByteArray::fromPercentEncoding(text.replace('+', ' '));
    };
    for (const QByteArray& field : QByteArray::fromStdString(req.body).split('&')) {
        const qsizetype equals = field.indexOf('=');
        if (equals > 0 && decoded(field.left(equals)) == "url")
            return QString::fromUtf8(decoded(field.mid(equals + 1)));
    }
    return {};
}

std::string peerAddress(MHD_Connection* connection) {
    const sockaddr* peer =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)->client_addr;
    char text[INET6_ADDRSTRLEN] = "";
    const void* bytes =
        peer->sa_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr)
            : &reinterpret_cast<const sockaddr_in*>(peer)->sin_addr;
    ::inet_ntop(peer->sa_family, bytes, text, sizeof text);
    return text;
}

void noticeConnection(void* server, MHD_Connection* connection, void** context,
                      MHD_ConnectionNotificationCode change) {
    auto* self = static_cast<StatusServer*>(server);
    if (change == MHD_CONNECTION_NOTIFY_STARTED)
        *context = self->opened(
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd);
    else
        self->closed(static_cast<StatusServer::Connection*>(*context));
}

// Called once the headers are in, again for each piece of the body, and once more when the
// request is whole, which is when it is answered.
MHD_Result answerRequest(void* server, MHD_Connection* connection, const char* url,
                         const char* method, const char*, const char* upload, size_t* uploadSize,
                         void** request) {
    auto* open = static_cast<StatusServer::Connection*>(
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
    if (!*request) {
        open->body.clear();
        *request = open;
        return MHD_YES;
    }
    if (*uploadSize) {
        open->body.append(upload, *uploadSize);
        *uploadSize = 0;
        return open->body.size() > kBodyRead ? MHD_NO : MHD_YES;
    }
    const auto header = [connection](MHD_ValueKind kind, const char* name) {
        const char* value = MHD_lookup_connection_value(connection, kind, name);
        return std::string(value ? value : "");
    };
    const StatusServer::Reply reply = static_cast<StatusServer*>(server)->serve(
        {method, url, peerAddress(connection), header(MHD_HEADER_KIND, "Host"),
         header(MHD_HEADER_KIND, "Authorization"), header(MHD_HEADER_KIND, "Content-Type"),
         header(MHD_GET_ARGUMENT_KIND, "url"), std::move(open->body)});
    MHD_Response* response = MHD_create_response_from_buffer(
        size_t(reply.body.size()), const_cast<char*>(reply.body.constData()),
        MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, "Content-Type", reply.type);
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (reply.challenge)
        MHD_add_response_header(response, "WWW-Authenticate", reply.challenge);
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

} // namespace

StatusServer::StatusServer(SignWatch& watch, const ListenPlan& plan, std::string token,
                           QObject* parent)
    : QObject(parent), watch_(watch), token_(std::move(token)), port_(plan.port),
      folder_(programFolder()) {
    QFile page(QStringLiteral(":/status/status_page.html"));
    if (page.open(QIODevice::ReadOnly))
        page_ = page.readAll();
    sockaddr_in6 v6{};
    sockaddr_in v4{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(uint16_t(port_));
    v4.sin_family = AF_INET;
    v4.sin_port = htons(uint16_t(port_));
    const bool isV6 = ::inet_pton(AF_INET6, plan.host.c_str(), &v6.sin6_addr) == 1;
    const bool isV4 = ::inet_pton(AF_INET, plan.host.c_str(), &v4.sin_addr) == 1;
    const std::string where = isV6 ? "[" + plan.host + "]:" + std::to_string(port_)
                                   : plan.host + ":" + std::to_string(port_);
    // A listener on the IPv6 wildcard takes IPv4 clients too. The library makes its sockets
    // close-on-exec, so no program the sign starts inherits one.
    const unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL_INTERNAL_THREAD |
                           MHD_USE_ITC | (isV6 ? unsigned(MHD_USE_DUAL_STACK) : 0u);
    if (isV6 || isV4)
        http_ = MHD_start_daemon(
            flags, uint16_t(port_), nullptr, nullptr, &answerRequest, this, MHD_OPTION_SOCK_ADDR,
            isV6 ? reinterpret_cast<sockaddr*>(&v6) : reinterpret_cast<sockaddr*>(&v4),
            MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_CONNECTION_LIMIT,
            kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxPerPeer,
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_LISTEN_BACKLOG_SIZE,
            kBacklog, MHD_OPTION_NOTIFY_CONNECTION, &noticeConnection, this, MHD_OPTION_END);
    if (!http_) {
        std::fprintf(stderr,
                     "lumira: the status server cannot listen on %s; the sign runs on without it\n",
                     where.c_str());
        return;
    }
    cutter_ = std::thread([this] { cutLate(); });
    std::fprintf(stderr, "lumira: status server on http://%s/\n", where.c_str());
}

StatusServer::~StatusServer() {
    stopping_ = true;
    if (http_)
        MHD_stop_daemon(http_); // closes every connection, each thread joined
    {
        std::lock_guard lock(openMutex_); // the cutter waits, or has yet to see stopping_
        openChanged_.notify_all();
    }
    if (cutter_.joinable())
        cutter_.join();
}

StatusServer::Connection* StatusServer::opened(int socket) {
    auto* connection =
        new Connection{socket, std::chrono::steady_clock::now() + kConnectionLifetime, {}};
    std::lock_guard lock(openMutex_);
    open_.insert(connection);
    openChanged_.notify_all();
    return connection;
}

// Before the library closes the socket: the cutter never shuts down a number reused since.
void StatusServer::closed(Connection* connection) {
    {
        std::lock_guard lock(openMutex_);
        open_.erase(connection);
    }
    delete connection;
}

void StatusServer::cutLate() {
    std::unique_lock lock(openMutex_);
    while (!stopping_) {
        const auto now = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> next;
        for (Connection* connection : open_) {
            if (connection->deadline <= now && connection->socket >= 0) {
                ::shutdown(connection->socket, SHUT_RDWR); // ends a blocked read or write
                connection->socket = -1;
            } else if (connection->socket >= 0 && (!next || connection->deadline < *next)) {
                next = connection->deadline;
            }
        }
        if (next)
            openChanged_.wait_until(lock, *next);
        else
            openChanged_.wait(lock);
    }
}

template <typename T> std::optional<T> StatusServer::onWindowThread(std::function<T()> task) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> result = promise->get_future();
    QMetaObject::invokeMethod(
        &watch_, [promise, task = std::move(task)] { promise->set_value(task()); },
        Qt::QueuedConnection);
    const auto giveUp = std::chrono::steady_clock::now() + kWindowAnswer;
    while (result.wait_for(50ms) != std::future_status::ready)
        if (stopping_ || std::chrono::steady_clock::now() >= giveUp)
            return std::nullopt;
    try {
        return result.get();
    } catch (const std::future_error&) { // the task was dropped: the program is ending
        return std::nullopt;
    }
}

QByteArray StatusServer::picture() {
    std::shared_ptr<std::promise<QByteArray>> maker;
    std::shared_future<QByteArray> shared;
    {
        std::lock_guard lock(pictureMutex_);
        const auto now = std::chrono::steady_clock::now();
        if (!picture_.valid() || now - pictureMadeAt_ >= kPictureShared) {
            maker = std::make_shared<std::promise<QByteArray>>();
            picture_ = maker->get_future().share();
            pictureMadeAt_ = now;
        }
        shared = picture_;
    }
    if (maker) {
        const auto image = onWindowThread<QImage>([&watch = watch_] { return watch.picture(); });
        maker->set_value(image && !image->isNull() ? encodePng(*image) : QByteArray());
    }
    if (shared.wait_for(kWindowAnswer + 1s) != std::future_status::ready)
        return {};
    return shared.get();
}

StatusServer::Reply StatusServer::serve(const Request& req) {
    const Asker asker{loopbackAddress(req.peer), req.host, req.authorization, req.method != "GET"};
    switch (admit(asker, port_, token_)) {
    case Admission::Allowed:
        break;
    case Admission::WrongHost:
        return failure(403, "this server answers to 127.0.0.1, localhost or [::1] only");
    case Admission::NoToken:
        return failure(403, "commands need a StatusToken of at least 16 characters");
    case Admission::NeedsAuth: {
        Reply reply = failure(401, "the status token is missing or wrong");
        reply.challenge =
            asker.command ? "Bearer realm=\"Lumira\"" : "Basic realm=\"Lumira\", charset=\"UTF-8\"";
        return reply;
    }
    }
    const bool read = req.method == "GET" || req.method == "HEAD";
    if (read && req.path == "/")
        return {200, page_, "text/html; charset=utf-8"};
    // The report: its facts from the window's thread, the memory figures read here.
    if (read && (req.path == "/status" || req.path == "/metrics")) {
        auto report = onWindowThread<SignReport>([&watch = watch_] { return watch.report(); });
        if (!report)
            return failure(503, "the sign does not answer");
        if (!readsWholeAddress(req.authorization, token_))
            report->address = addressWithoutSecrets(report->address, report->folder);
        addMemory(*report);
        if (req.path == "/status")
            return {200, reportJson(*report)};
        return {200, reportMetrics(*report), "text/plain; version=0.0.4; charset=utf-8"};
    }
    if (read && req.path == "/screenshot.png") {
        const QByteArray png = picture();
        if (png.isEmpty())
            return failure(503, "no picture: the sign is not showing yet or does not answer");
        return {200, png, "image/png"};
    }
    if (req.method == "POST" && req.path == "/reload")
        return answerOutcome(
            onWindowThread<SignWatch::Outcome>([&watch = watch_] { return watch.reload(); }));
    // Checked before anything is written: a refused address leaves the file as it was.
    if (req.method == "POST" && req.path == "/address") {
        if (req.body.size() > kBodyMax)
            return failure(413, "the body is over 4096 bytes");
        const QString address = postedAddress(req);
        if (const auto refused = refusedAddress(address, folder_))
            return failure(400, refused->c_str());
        return answerOutcome(onWindowThread<SignWatch::Outcome>(
            [&watch = watch_, address] { return watch.takeAddress(address); }));
    }
    return failure(404, "no such page");
}

} // namespace lumira

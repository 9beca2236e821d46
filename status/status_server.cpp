#include "status/status_server.h"

#include "common/program_folder.h"
#include "status/address_rules.h"
#include "status/connection_guard.h"
#include "status/sign_watch.h"

#include <QBuffer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <cstdio>
#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>

namespace lumira {

namespace {

using namespace std::chrono_literals;

constexpr int kThreads = 8;
constexpr int kMaxConnections = 16;
// A connection ends after this long, however slowly its client sends or reads ...
constexpr auto kConnectionLifetime = 5000ms;
// ... or after its client has sent this much: a few requests' worth.
constexpr unsigned long long kConnectionBytes = 64 * 1024;
// The window's thread answers within it, or the request is answered 503.
constexpr auto kWindowAnswer = 2s;
constexpr auto kPictureShared = 1s;
constexpr size_t kBodyMax = 4096;
constexpr int kBacklog = 64;
constexpr int kPngQuality = 80; // light compression: a 1920x1080 picture in a few milliseconds

const char kJson[] = "application/json";

void answer(httplib::Response& res, int status, const char* error) {
    res.status = status;
    res.set_content(
        QJsonDocument(QJsonObject{{"error", error}}).toJson(QJsonDocument::Compact).toStdString(),
        kJson);
}

void answerOutcome(httplib::Response& res, std::optional<SignWatch::Outcome> outcome) {
    using Outcome = SignWatch::Outcome;
    switch (outcome.value_or(Outcome::NoWindow)) {
    case Outcome::Done:
        res.set_content("{\"ok\":true}", kJson);
        return;
    case Outcome::NoWindow:
        return answer(res, 503, "the sign is not showing yet or does not answer");
    case Outcome::Dark:
        return answer(res, 409, "dark hours: the page loads when they end");
    case Outcome::SettingsOpen:
        return answer(res, 409, "the settings window is open; its close saves its own address");
    case Outcome::NotSaved:
        return answer(res, 500, "the configuration file could not be written");
    }
}

QByteArray encodePng(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", kPngQuality);
    return png;
}

// The address a POST /address carries: a form field or a JSON member named url.
std::string postedAddress(const httplib::Request& req) {
    if (req.get_header_value("Content-Type").rfind("application/json", 0) == 0) {
        const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
        return json.object().value("url").toString().toStdString();
    }
    return req.get_param_value("url");
}

} // namespace

StatusServer::StatusServer(SignWatch& watch, const ListenPlan& plan, std::string token,
                           QObject* parent)
    : QObject(parent), watch_(watch), token_(std::move(token)), port_(plan.port),
      http_(std::make_unique<httplib::Server>()) {
    QFile page(QStringLiteral(":/status/status_page.html"));
    if (page.open(QIODevice::ReadOnly))
        page_ = page.readAll();
    http_->new_task_queue = [port = port_] {
        return new ConnectionGuard(port, kThreads, kMaxConnections, kConnectionLifetime,
                                   kConnectionBytes);
    };
    http_->set_read_timeout(2, 0);
    http_->set_write_timeout(5, 0);
    http_->set_keep_alive_max_count(10);
    http_->set_keep_alive_timeout(2);
    http_->set_payload_max_length(kBodyMax);
    route();
    const std::string where = plan.host.find(':') == std::string::npos
                                  ? plan.host + ":" + std::to_string(port_)
                                  : "[" + plan.host + "]:" + std::to_string(port_);
    // The library listens with a backlog of five, which drops the connections of a crowd
    // arriving at once (their clients try again only after a second or more); a longer one is
    // set on the same socket once it listens.
    int listener = -1;
    http_->set_socket_options([&listener](socket_t sock) {
        listener = sock;
        ::fcntl(sock, F_SETFD, FD_CLOEXEC); // no program this one starts inherits it
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    const bool bound = http_->bind_to_port(plan.host, port_);
    if (bound)
        ::listen(listener, kBacklog);
    if (!bound) {
        std::fprintf(stderr,
                     "lumira: the status server cannot listen on %s; the sign runs on without it\n",
                     where.c_str());
        return;
    }
    std::fprintf(stderr, "lumira: status server on http://%s/\n", where.c_str());
    thread_ = std::thread([this] { http_->listen_after_bind(); });
}

StatusServer::~StatusServer() {
    stopping_ = true;
    http_->stop();
    if (thread_.joinable())
        thread_.join();
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

void StatusServer::route() {
    using httplib::Request;
    using httplib::Response;
    using Handled = httplib::Server::HandlerResponse;

    http_->set_pre_routing_handler([this](const Request& req, Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        const Asker asker{loopbackAddress(req.remote_addr), req.get_header_value("Host"),
                          req.get_header_value("Authorization"), req.method != "GET"};
        switch (admit(asker, port_, token_)) {
        case Admission::Allowed:
            if (req.method == "POST" && req.path == "/reload") {
                // Served here, before the library reads a body: it refuses a POST without a
                // length, the way `curl -X POST` sends this one. The connection then ends, so
                // that a body left unread is never taken for a request.
                res.set_header("Connection", "close");
                answerOutcome(res, onWindowThread<SignWatch::Outcome>(
                                       [&watch = watch_] { return watch.reload(); }));
                return Handled::Handled;
            }
            return Handled::Unhandled;
        case Admission::WrongHost:
            answer(res, 403, "this server answers to 127.0.0.1, localhost or [::1] only");
            break;
        case Admission::NoToken:
            answer(res, 403, "commands need a StatusToken of at least 16 characters");
            break;
        case Admission::NeedsAuth:
            res.set_header("WWW-Authenticate", asker.command
                                                   ? "Bearer realm=\"Lumira\""
                                                   : "Basic realm=\"Lumira\", charset=\"UTF-8\"");
            answer(res, 401, "the status token is missing or wrong");
            break;
        }
        return Handled::Handled;
    });

    http_->Get("/", [this](const Request&, Response& res) {
        res.set_content(page_.constData(), size_t(page_.size()), "text/html; charset=utf-8");
    });
    // The report: its facts from the window's thread, the memory figures read here.
    const auto serveReport = [this](QByteArray (*format)(const SignReport&), const char* type) {
        return [this, format, type](const Request& req, Response& res) {
            auto report = onWindowThread<SignReport>([&watch = watch_] { return watch.report(); });
            if (!report)
                return answer(res, 503, "the sign does not answer");
            if (!readsWholeAddress(req.get_header_value("Authorization"), token_))
                report->address = addressWithoutSecrets(report->address, report->folder);
            addMemory(*report);
            res.set_content(format(*report).toStdString(), type);
        };
    };
    http_->Get("/status", serveReport(reportJson, kJson));
    http_->Get("/metrics", serveReport(reportMetrics, "text/plain; version=0.0.4; charset=utf-8"));
    http_->Get("/screenshot.png", [this](const Request&, Response& res) {
        const QByteArray png = picture();
        if (png.isEmpty())
            return answer(res, 503, "no picture: the sign is not showing yet or does not answer");
        res.set_content(png.constData(), size_t(png.size()), "image/png");
    });
    // Checked before anything is written: a refused address leaves the file as it was.
    http_->Post("/address", [this, folder = programFolder()](const Request& req, Response& res) {
        const QString address = QString::fromStdString(postedAddress(req));
        if (const auto refused = refusedAddress(address, folder))
            return answer(res, 400, refused->c_str());
        answerOutcome(res, onWindowThread<SignWatch::Outcome>(
                               [&watch = watch_, address] { return watch.takeAddress(address); }));
    });
}

} // namespace lumira

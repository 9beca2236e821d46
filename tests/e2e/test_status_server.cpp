// The status server seen from outside: what it tells a local client, whose commands it takes,
// what its picture shows, how it stands up to bad and greedy clients, and `lumira --status`.
#include "tests/e2e/only_the_page.h"
#include "tests/harness/http_client.h"
#include "tests/harness/process_tree.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace e2e;
using harness::HttpReply;

namespace {

constexpr auto kAnswerTimeout = 10s;
const std::string kToken = "q7Vt-3mLx9Rk2bWz8NpC"; // 20 characters
constexpr uint32_t kNoticeRed = 0xe01010;
// What the program may grow by in the barrage; the address sanitizer keeps up to 256 MiB of
// freed memory aside besides.
#ifdef __SANITIZE_ADDRESS__
constexpr long long kGrowthKb = (64 + 256) * 1024;
#else
constexpr long long kGrowthKb = 64 * 1024;
#endif

std::string describe(const HttpReply& reply) {
    return std::string(harness::outcomeName(reply.outcome)) + " " + std::to_string(reply.status) +
           " after " + std::to_string(int(reply.ms)) + " ms: " + reply.body.substr(0, 200);
}

// Runs `work` on a thread of its own while this one keeps Qt events flowing (the page's
// server lives here).
template <typename Work> auto whilePumping(Work work) -> decltype(work()) {
    auto result = std::async(std::launch::async, std::move(work));
    harness::waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 30s);
    return result.get();
}

HttpReply roundTrip(quint16 port, const std::string& request) {
    return whilePumping(
        [=] { return harness::httpExchange("127.0.0.1", port, request, kAnswerTimeout); });
}

HttpReply fetch(quint16 port, const std::string& path, const std::string& host) {
    return roundTrip(port, harness::httpRequest("GET", path, host));
}

// One request through curl, the client people script the server with; of the headers, only
// Content-Type.
HttpReply curl(quint16 port, const std::string& path, const QStringList& options = {}) {
    QTemporaryDir dir;
    const QString body = dir.filePath(QStringLiteral("body"));
    QProcess process;
    process.start(
        QStringLiteral("curl"),
        QStringList{"--silent", "--noproxy", "*", "--max-time", "10", "--output", body,
                    "--write-out", "%{http_code} %{content_type}"} +
            options +
            QStringList{QString::fromStdString("http://127.0.0.1:" + std::to_string(port) + path)});
    if (!process.waitForStarted(5000))
        throw std::runtime_error("curl cannot start");
    harness::waitUntil(
        [&] { return process.state() == QProcess::NotRunning || process.waitForFinished(0); }, 15s);
    HttpReply reply;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        reply.outcome = HttpReply::Outcome::TimedOut;
        return reply;
    }
    const int code = process.exitCode();
    reply.outcome = code == 0   ? HttpReply::Outcome::Answered
                    : code == 7 ? HttpReply::Outcome::Refused
                                : HttpReply::Outcome::Closed;
    const std::string written = process.readAllStandardOutput().toStdString();
    reply.status = std::atoi(written.c_str());
    if (written.size() > 4)
        reply.headers.emplace_back("content-type", written.substr(4));
    QFile file(body);
    if (file.open(QIODevice::ReadOnly))
        reply.body = file.readAll().toStdString();
    return reply;
}

QJsonObject jsonObject(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

std::string compact(const QJsonValue& value) {
    if (!value.isObject())
        return value.isNull() ? "null" : "not an object";
    return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact).toStdString();
}

QJsonObject statusOf(quint16 port) {
    const HttpReply reply = curl(port, "/status");
    return reply.answered(200) ? jsonObject(reply.body) : QJsonObject();
}

std::string stateOf(const QJsonObject& facts) {
    return facts[QStringLiteral("state")].toString().toStdString();
}

std::string canonical(const std::string& folder) {
    return QFileInfo(QString::fromStdString(folder)).canonicalFilePath().toStdString();
}

// Whether `text` holds `line` as a whole line.
bool hasLine(const std::string& text, const std::string& line) {
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        const size_t end = at + line.size();
        if ((at == 0 || text[at - 1] == '\n') && end < text.size() && text[end] == '\n')
            return true;
    }
    return false;
}

// Whether the program printed `line` as a whole line.
bool printed(LumiraUnderTest& lumira, const std::string& line, std::chrono::milliseconds timeout) {
    return harness::waitUntil([&] { return hasLine(lumira.program.output(), line); }, timeout,
                              20ms);
}

// Every sample of a Prometheus text exposition is well formed, and its metric has its # HELP
// and # TYPE lines before it.
testing::AssertionResult wellFormedMetrics(const std::string& text) {
    static const std::regex sample(
        R"(([a-zA-Z_:][a-zA-Z0-9_:]*))"
        R"((\{[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*"(,[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*")*\})?)"
        R"( (-?[0-9]+(\.[0-9]+)?([eE][-+]?[0-9]+)?|NaN|[-+]Inf))");
    if (!text.ends_with('\n'))
        return testing::AssertionFailure() << "the last line has no line end";
    std::set<std::string> typed, helped;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto nameAfter = [&](size_t at) { return line.substr(at, line.find(' ', at) - at); };
        if (line.starts_with("# TYPE "))
            typed.insert(nameAfter(7));
        else if (line.starts_with("# HELP "))
            helped.insert(nameAfter(7));
        else if (!line.empty() && !line.starts_with('#')) {
            std::smatch match;
            if (!std::regex_match(line, match, sample))
                return testing::AssertionFailure() << "not a sample: " << line;
            if (!typed.count(match[1]) || !helped.count(match[1]))
                return testing::AssertionFailure() << "no # HELP and # TYPE before: " << line;
        }
    }
    return testing::AssertionSuccess();
}

// The picture is a PNG of width x height whose every pixel is expected(x, y).
testing::AssertionResult pictureShows(const std::string& png, int width, int height,
                                      const std::function<uint32_t(int x, int y)>& expected) {
    QImage image;
    if (!image.loadFromData(QByteArray::fromStdString(png), "PNG"))
        return testing::AssertionFailure() << "not a PNG (" << png.size() << " bytes)";
    if (image.width() != width || image.height() != height)
        return testing::AssertionFailure()
               << "a picture of " << image.width() << "x" << image.height();
    image = image.convertToFormat(QImage::Format_RGB32);
    int wrong = 0;
    std::ostringstream first;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t rgb = image.pixel(x, y) & 0xffffff;
            if (rgb != expected(x, y) && wrong++ == 0)
                first << std::hex << rgb << " at " << std::dec << x << "," << y;
        }
    }
    if (wrong)
        return testing::AssertionFailure() << wrong << " pixels differ, the first " << first.str();
    return testing::AssertionSuccess();
}

const auto kAllGreen = [](int, int) { return kGreen; };

// The status page as a browser shows it, after its scripts ran: headless Chromium as the
// machine runs it for tests (no sandbox as root, no network of its own), its DOM or a screenshot.
std::string inChromium(quint16 port, const QStringList& what) {
    QTemporaryDir profile;
    QProcess chromium;
    chromium.setProcessChannelMode(QProcess::SeparateChannels);
    chromium.start(QStringLiteral("chromium"),
                   QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                               "--no-first-run", "--disable-background-networking",
                               "--disable-component-update", "--disable-sync",
                               "--user-data-dir=" + profile.path(), "--window-size=900,1000",
                               "--virtual-time-budget=5000"} +
                       what + QStringList{QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    if (!chromium.waitForFinished(60000))
        chromium.kill();
    return chromium.readAllStandardOutput().toStdString();
}

// The status page in headless Firefox, driven over its remote protocol (Marionette: messages
// "length:[0, id, command, parameters]"), once the page's script has shown `state`: the page's
// source then, and a screenshot of it. Empty when Firefox did not start or the state never showed.
struct FirefoxView {
    std::string source;
    QImage shot;
};
FirefoxView inFirefox(quint16 port, const std::string& state) {
    QTemporaryDir profile;
    QFile prefs(profile.filePath("user.js"));
    prefs.open(QIODevice::WriteOnly);
    prefs.write("user_pref(\"marionette.port\", 0);\n" // any free port, written to the profile
                "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n");
    prefs.close();
    QProcess firefox;
    firefox.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    firefox.start("firefox-esr", {"--headless", "--marionette", "--no-remote", "--profile",
                                  profile.path(), "--window-size=900,1000"});
    FirefoxView view;
    QFile portFile(profile.filePath("MarionetteActivePort"));
    QTcpSocket marionette;
    if (harness::waitUntil([&] { return portFile.size() > 0; }, 30s) &&
        portFile.open(QIODevice::ReadOnly))
        marionette.connectToHost(QHostAddress::LocalHost,
                                 quint16(portFile.readAll().trimmed().toUInt()));
    // The next `count` bytes; fewer when Firefox falls silent for 20 s.
    const auto read = [&marionette](qint64 count) {
        QByteArray bytes;
        while (bytes.size() < count &&
               (marionette.bytesAvailable() || marionette.waitForReadyRead(20000)))
            bytes += marionette.read(count - bytes.size());
        return bytes;
    };
    const auto receive = [&read]() -> QJsonValue {
        QByteArray length;
        while (!length.endsWith(':')) {
            const QByteArray next = read(1);
            if (next.isEmpty())
                return {};
            length += next;
        }
        const QJsonDocument parsed = QJsonDocument::fromJson(read(length.chopped(1).toLongLong()));
        // The greeting is an object; a reply is [1, id, error, result].
        return parsed.isArray() ? parsed.array().at(3) : QJsonValue(parsed.object());
    };
    int id = 0;
    const auto command = [&](const char* name, const QJsonObject& parameters) {
        const QByteArray message =
            QJsonDocument(QJsonArray{0, ++id, name, parameters}).toJson(QJsonDocument::Compact);
        marionette.write(QByteArray::number(message.size()) + ":" + message);
        return receive();
    };
    if (marionette.waitForConnected(5000) && receive().isObject() &&
        command("WebDriver:NewSession", {}).isObject()) {
        command("WebDriver:Navigate", {{"url", QStringLiteral("http://127.0.0.1:%1/").arg(port)}});
        const std::string badge = "class=\"badge " + state + "\"";
        harness::waitUntil(
            [&] {
                view.source =
                    command("WebDriver:GetPageSource", {})["value"].toString().toStdString();
                return view.source.find(badge) != std::string::npos;
            },
            10s, 200ms);
        view.shot = QImage::fromData(QByteArray::fromBase64(
            command("WebDriver:TakeScreenshot", {})["value"].toString().toLatin1()));
        command("Marionette:Quit", {});
    }
    if (!firefox.waitForFinished(10000))
        firefox.kill();
    firefox.waitForFinished();
    return view;
}

// Pixels of `picture` within two steps of `rgb` on every channel.
int pixelsNear(const QImage& picture, uint32_t rgb) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    int near = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            near += std::abs(qRed(p) - int(rgb >> 16 & 0xff)) <= 2 &&
                    std::abs(qGreen(p) - int(rgb >> 8 & 0xff)) <= 2 &&
                    std::abs(qBlue(p) - int(rgb & 0xff)) <= 2;
        }
    return near;
}

// Shift+F12 held until the settings window is there.
std::optional<xcb_window_t> openSettings(LumiraUnderTest& lumira) {
    lumira.x.keyDown("Shift_L");
    lumira.x.keyDown("F12");
    const auto shown = lumira.x.waitForWindow(kSettings, 5s);
    lumira.x.keyUp("F12");
    lumira.x.keyUp("Shift_L");
    return shown;
}

std::optional<std::string> addressBeyondTheLoopback() {
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address.toString().toStdString();
    }
    return std::nullopt;
}

// A connection to the server on the loopback from the address `from`; -1 when refused.
int connectTo(quint16 port, const std::string& from) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// A connection that sends `request` in steps of `step` bytes (the request over and over),
// waiting up to `pause` for the server after each; the milliseconds until the server answered
// or closed it, or nothing when it still held it after `limit`.
std::optional<double> sendUntilDropped(quint16 port, const std::string& request, size_t step,
                                       std::chrono::milliseconds pause,
                                       std::chrono::milliseconds limit,
                                       const std::string& from = "127.0.0.1") {
    const auto start = std::chrono::steady_clock::now();
    const auto since = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    const int fd = connectTo(port, from);
    std::optional<double> dropped;
    if (fd < 0)
        dropped = since();
    std::string bytes;
    for (size_t sent = 0; !dropped && since() < double(limit.count()); sent += step) {
        bytes.clear();
        for (size_t i = 0; i < step; ++i)
            bytes += request[(sent + i) % request.size()];
        if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) {
            dropped = since();
            break;
        }
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, int(pause.count())) > 0)
            dropped = since(); // an answer, the end of the connection or a reset
    }
    if (fd >= 0)
        ::close(fd);
    return dropped;
}

// The program's sockets on `port`, its listener and the connections it accepted there, and how
// many of them a program it starts would inherit (not close-on-exec).
struct PortSockets {
    int count = 0, inherited = 0;
};
PortSockets socketsOnPort(pid_t pid, quint16 port) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::set<std::string> inodes;
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        std::ifstream lines(proc + table);
        std::string line, local, skip, inode;
        std::getline(lines, line); // the heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            fields >> skip >> local; // then remote, state, queues, timer, retries, uid, timeout
            for (int i = 0; i < 8; ++i)
                fields >> inode;
            if (std::stoi(local.substr(local.find(':') + 1), nullptr, 16) == port)
                inodes.insert("socket:[" + inode + "]");
        }
    }
    PortSockets found;
    for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) {
        std::error_code gone;
        if (!inodes.count(std::filesystem::read_symlink(entry.path(), gone).string()))
            continue;
        ++found.count;
        std::ifstream info(proc + "/fdinfo/" + entry.path().filename().string());
        for (std::string key, value; info >> key >> value;)
            if (key == "flags:" && (std::stoul(value, nullptr, 8) & O_CLOEXEC) == 0)
                ++found.inherited;
    }
    return found;
}

} // namespace

// A local client reads the page, the facts, the metrics and the picture; a page of another
// site (another Host) reads nothing; commands need the token as Bearer, and a new address is
// saved as the settings window saves it, never while that window is open.
TEST(StatusServer, tellsLocalClientsEverythingAndObeysOnlyTheToken) {
    harness::LoopbackHttpServer first, second;
    first.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    second.setResponse(200, QByteArray::fromStdString(solidPage(kBlue)));
    const quint16 port = harness::freeLoopbackPort();
    const std::string p = std::to_string(port);
    const std::string host = harness::loopbackHost(port);
    const std::string firstUrl = first.url(QStringLiteral("/sign")).toStdString();
    const std::string iniHead = "[Options]\r\nStatus=" + p + "\r\nStatusToken=" + kToken +
                                "\r\n\r\n; the sign in the hall\r\n[Main]\r\nwLeft=100\r\nURL=";
    const std::string iniTail = "\r\nwTop=100\r\n";
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniHead + firstUrl + iniTail);
    lumira.openDisplay();
    ASSERT_TRUE(printed(lumira, "lumira: status server on http://127.0.0.1:" + p + "/", 10s));
    ASSERT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen));

    const HttpReply page = curl(port, "/");
    EXPECT_TRUE(page.answered(200)) << describe(page);
    EXPECT_EQ(page.header("content-type").value_or(""), "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("id=\"picture\""), std::string::npos);
    EXPECT_NE(page.body.find("src=\"screenshot.png\""), std::string::npos);
    for (const char* outside :
         {"src=\"http", "src=\"//", "href=\"http", "href=\"//", "url(http", "url(//", "@import"})
        EXPECT_EQ(page.body.find(outside), std::string::npos) << "from outside: " << outside;

    // The page in a real browser: its script filled in the state, its picture is the sign's.
    EXPECT_NE(inChromium(port, {"--dump-dom"}).find(R"(class="badge showing">显示中<)"),
              std::string::npos)
        << "the status page's script did not show the state";
    QTemporaryDir shots;
    const QString pageShot = shots.filePath("page.png");
    inChromium(port, {"--screenshot=" + pageShot});
    EXPECT_GE(pixelsNear(QImage(pageShot), kGreen), 320 * 240 * 9 / 10)
        << "the sign's picture on the page";
    const FirefoxView firefox = inFirefox(port, "showing");
    EXPECT_NE(firefox.source.find(R"(class="badge showing">显示中<)"), std::string::npos)
        << "the status page's script did not show the state in Firefox";
    EXPECT_GE(pixelsNear(firefox.shot, kGreen), 320 * 240 * 9 / 10)
        << "the sign's picture on the page in Firefox";

    QJsonObject facts;
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            facts = statusOf(port);
            return stateOf(facts) == "showing" && facts[QStringLiteral("above")].toBool();
        },
        5s))
        << QJsonDocument(facts).toJson().toStdString();
    EXPECT_EQ(facts[QStringLiteral("version")].toString().toStdString(), LUMIRA_VERSION);
    EXPECT_EQ(canonical(facts[QStringLiteral("folder")].toString().toStdString()),
              canonical(lumira.program.folder()));
    EXPECT_EQ(facts[QStringLiteral("address")].toString().toStdString(), firstUrl);
    const QJsonObject rect = facts[QStringLiteral("rect")].toObject();
    EXPECT_EQ(compact(rect[QStringLiteral("configured")]), R"({"h":240,"w":320,"x":100,"y":100})");
    EXPECT_EQ(compact(rect[QStringLiteral("actual")]), compact(rect[QStringLiteral("configured")]));
    EXPECT_FALSE(facts[QStringLiteral("last_success")].isNull());
    EXPECT_EQ(facts[QStringLiteral("failures_total")].toInt(-1), 0);
    EXPECT_FALSE(facts[QStringLiteral("settings_open")].toBool(true));
    const HttpReply status = fetch(port, "/status", host);
    EXPECT_TRUE(status.header("content-type").value_or("").starts_with("application/json"));
    for (const auto& [name, value] : status.headers)
        EXPECT_FALSE(name.starts_with("access-control-")) << name << ": " << value;

    const HttpReply metrics = curl(port, "/metrics");
    EXPECT_TRUE(metrics.answered(200)) << describe(metrics);
    EXPECT_TRUE(metrics.header("content-type").value_or("").starts_with("text/plain"));
    EXPECT_TRUE(wellFormedMetrics(metrics.body));
    for (const char* line :
         {"lumira_up 1", "lumira_state{state=\"showing\"} 1", "lumira_state{state=\"retrying\"} 0",
          "lumira_window_placed 1", "lumira_load_failures_total 0"})
        EXPECT_TRUE(hasLine(metrics.body, line)) << line << " missing from\n" << metrics.body;

    const HttpReply shot = curl(port, "/screenshot.png");
    EXPECT_TRUE(shot.answered(200)) << describe(shot);
    EXPECT_EQ(shot.header("content-type").value_or(""), "image/png");
    EXPECT_TRUE(pictureShows(shot.body, 320, 240, kAllGreen));

    // What a page of another site reaches through a name that leads here: nothing.
    const std::string otherPort = std::to_string(port == 65535 ? port - 1 : port + 1);
    for (const std::string& foreign : {"evil.example:" + p, "localhost.evil.example:" + p,
                                       "127.0.0.1:" + otherPort, std::string("127.0.0.1")}) {
        const HttpReply reply = fetch(port, "/status", foreign);
        EXPECT_TRUE(reply.answered(403)) << "Host: " << foreign << ": " << describe(reply);
        EXPECT_EQ(reply.body.find("showing"), std::string::npos) << "told another site";
    }
    EXPECT_TRUE(fetch(port, "/status", "localhost:" + p).answered(200));
    EXPECT_TRUE(fetch(port, "/nothing-here", host).answered(404));

    // A reload needs the whole token as Bearer; a password (Basic) is not enough for a command.
    const size_t loads = requestsFor(first, "/sign");
    const std::string basic = QByteArray::fromStdString("sign:" + kToken).toBase64().toStdString();
    for (const std::string& wrong :
         {std::string(), "Bearer " + kToken.substr(0, 19), "Bearer " + kToken + "x",
          "Bearer " + kToken.substr(1), "Basic " + basic}) {
        const std::string line = wrong.empty() ? "" : "Authorization: " + wrong + "\r\n";
        const HttpReply reply =
            roundTrip(port, harness::httpRequest("POST", "/reload", host, line));
        EXPECT_TRUE(reply.answered(401)) << "Authorization: " << wrong << ": " << describe(reply);
    }
    harness::pumpEventsFor(1s);
    EXPECT_EQ(requestsFor(first, "/sign"), loads) << "a refused command loaded the page";
    const QStringList bearer{"-H", QString::fromStdString("Authorization: Bearer " + kToken)};
    const HttpReply reloaded = curl(port, "/reload", QStringList{"-X", "POST"} + bearer);
    EXPECT_TRUE(reloaded.answered(200)) << describe(reloaded);
    EXPECT_EQ(compact(jsonObject(reloaded.body)), R"({"ok":true})");
    EXPECT_TRUE(harness::waitUntil([&] { return requestsFor(first, "/sign") > loads; }, 5s))
        << "the reload loaded nothing";

    // A new address: refused when empty or too long, then saved and shown.
    const auto postAddress = [&](const std::string& type, const std::string& body) {
        return roundTrip(port, harness::httpRequest("POST", "/address", host,
                                                    "Authorization: Bearer " + kToken +
                                                        "\r\nContent-Type: " + type + "\r\n",
                                                    body));
    };
    const std::string form = "application/x-www-form-urlencoded";
    EXPECT_TRUE(postAddress(form, "url=").answered(400));
    EXPECT_TRUE(postAddress("application/json", R"({"url":""})").answered(400));
    const HttpReply tooLong = postAddress(form, "url=http://127.0.0.1:1/" + std::string(5000, 'a'));
    EXPECT_TRUE(tooLong.answered(413)) << describe(tooLong);
    // A line break would put a line of the sender's own into lumira.ini.
    const HttpReply smuggled =
        postAddress(form, "url=http%3A%2F%2F127.0.0.1%3A1%2F%0D%0A%5BOptions%5D%0D%0AStatus%3D1");
    EXPECT_TRUE(smuggled.answered(400)) << describe(smuggled);
    // Only web addresses, and only as they read back from the file: refused before it is written.
    for (const std::string& refused : std::vector<std::string>{
             "file:///etc/shadow", "/etc/shadow", "javascript:alert(1)", "data:text/html,x", "   ",
             " " + firstUrl, "\\\"" + firstUrl + "\\\""}) {
        const HttpReply reply = postAddress("application/json", R"({"url":")" + refused + R"("})");
        EXPECT_TRUE(reply.answered(400)) << refused << ": " << describe(reply);
    }
    EXPECT_EQ(lumira.program.readIni().value_or(""), iniHead + firstUrl + iniTail);

    // A file that cannot be written: an error, and the sign stays as it was.
    const std::string iniPath = lumira.program.folder() + "/lumira.ini";
    ASSERT_EQ(::chmod(iniPath.c_str(), 0444), 0);
    const HttpReply unwritable =
        postAddress(form, "url=" + second.url(QStringLiteral("/unsaved")).toStdString());
    harness::pumpEventsFor(1s);
    ::chmod(iniPath.c_str(), 0644);
    EXPECT_TRUE(unwritable.answered(500)) << describe(unwritable);
    EXPECT_EQ(requestsFor(second, "/unsaved"), 0u) << "loaded an address it could not save";
    EXPECT_EQ(lumira.program.readIni().value_or(""), iniHead + firstUrl + iniTail);

    // Sent as a form encodes it: the address holds '?', '&' and '=', and a password.
    const std::string secondUrl =
        "http://sign:secret@" +
        second.url(QStringLiteral("/second?a=1&b=2")).toStdString().substr(7);
    const HttpReply changed =
        curl(port, "/address",
             bearer + QStringList{"--data-urlencode", QString::fromStdString("url=" + secondUrl)});
    EXPECT_TRUE(changed.answered(200)) << describe(changed);
    EXPECT_TRUE(
        harness::waitUntil([&] { return requestsFor(second, "/second?a=1&b=2") == 1; }, 10s));
    EXPECT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kBlue));
    EXPECT_EQ(lumira.program.readIni().value_or(""), iniHead + secondUrl + iniTail);
    // Without the token a reader sees no password and no query; with it, the whole address.
    EXPECT_EQ(statusOf(port)[QStringLiteral("address")].toString().toStdString(),
              second.url(QStringLiteral("/second")).toStdString());
    EXPECT_EQ(jsonObject(curl(port, "/status", bearer).body)[QStringLiteral("address")]
                  .toString()
                  .toStdString(),
              secondUrl);

    // The settings window is open: its own address box must not be overtaken.
    ASSERT_TRUE(openSettings(lumira)) << "no settings window";
    EXPECT_TRUE(harness::waitUntil(
        [&] { return statusOf(port)[QStringLiteral("settings_open")].toBool(); }, 3s));
    const size_t firstLoads = requestsFor(first, "/sign");
    const HttpReply busy = postAddress("application/json", R"({"url":")" + firstUrl + R"("})");
    EXPECT_TRUE(busy.answered(409)) << describe(busy);
    harness::pumpEventsFor(1s);
    EXPECT_EQ(requestsFor(first, "/sign"), firstLoads);
    EXPECT_EQ(lumira.program.readIni().value_or(""), iniHead + secondUrl + iniTail);
}

// An address beyond the loopback without a token of 16 characters: the server stays on the
// loopback and says so; a short token is no token, so commands are refused outright.
TEST(StatusServer, anOutsideAddressWithoutALongTokenStaysOnTheLoopback) {
    const quint16 port = harness::freeLoopbackPort();
    const std::string p = std::to_string(port);
    const std::string shortToken = kToken.substr(0, 15);
    LumiraUnderTest lumira;
    lumira.program.writeFile("start.htm", solidPage(kGreen));
    lumira.program.writeIni("[Options]\r\nStatus=0.0.0.0:" + p + "\r\nStatusToken=" + shortToken +
                            "\r\n");
    lumira.launch();
    EXPECT_TRUE(printed(lumira,
                        "lumira: Status=0.0.0.0:" + p +
                            " needs a StatusToken of at least 16 characters; the status server "
                            "listens on 127.0.0.1:" +
                            p + " only",
                        10s));
    ASSERT_TRUE(printed(lumira, "lumira: status server on http://127.0.0.1:" + p + "/", 10s));

    const std::string host = harness::loopbackHost(port);
    EXPECT_TRUE(fetch(port, "/status", host).answered(200));
    for (const std::string& authorization : {std::string(), "Bearer " + shortToken}) {
        const std::string line =
            authorization.empty() ? "" : "Authorization: " + authorization + "\r\n";
        const HttpReply reload =
            roundTrip(port, harness::httpRequest("POST", "/reload", host, line));
        EXPECT_TRUE(reload.answered(403)) << authorization << ": " << describe(reload);
        const HttpReply address =
            roundTrip(port, harness::httpRequest("POST", "/address", host,
                                                 line + "Content-Type: "
                                                        "application/x-www-form-urlencoded\r\n",
                                                 "url=http://127.0.0.1:1/"));
        EXPECT_TRUE(address.answered(403)) << authorization << ": " << describe(address);
    }
    EXPECT_EQ(lumira.program.readIni().value_or("").find("127.0.0.1:1/"), std::string::npos);

    const auto outside = addressBeyondTheLoopback();
    if (!outside) {
        std::cout << "[   NOTE   ] this machine has no address beyond the loopback: not checked "
                     "that the server is out of reach there\n";
        return;
    }
    const HttpReply there = whilePumping([&] {
        return harness::httpExchange(
            *outside, port, harness::httpRequest("GET", "/status", *outside + ":" + p), 5s);
    });
    EXPECT_EQ(there.outcome, HttpReply::Outcome::Refused) << *outside << ": " << describe(there);
}

// Before OK there is no sign yet and no picture of it; once it shows, the picture is the screen
// at the rectangle, with whatever covers it.
TEST(StatusServer, startingHasNoPictureAndThePictureShowsWhatCoversTheSign) {
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    const quint16 port = harness::freeLoopbackPort();
    LumiraUnderTest lumira;
    const QString url = server.url(QStringLiteral("/sign?key=1"));
    lumira.program.writeIni(iniWithOptions(url, "Status=" + std::to_string(port) + "\r\n"));
    const xcb_window_t welcome = lumira.launch();
    ASSERT_TRUE(printed(
        lumira, "lumira: status server on http://127.0.0.1:" + std::to_string(port) + "/", 10s));

    const QJsonObject starting = statusOf(port);
    EXPECT_EQ(stateOf(starting), "starting");
    const QJsonObject noRect = starting[QStringLiteral("rect")].toObject();
    EXPECT_TRUE(noRect[QStringLiteral("configured")].isNull());
    EXPECT_TRUE(noRect[QStringLiteral("actual")].isNull());
    EXPECT_FALSE(starting[QStringLiteral("above")].toBool(true));
    EXPECT_TRUE(curl(port, "/screenshot.png").answered(503));
    const std::string metrics = curl(port, "/metrics").body;
    EXPECT_TRUE(hasLine(metrics, "lumira_state{state=\"starting\"} 1")) << metrics;
    EXPECT_TRUE(hasLine(metrics, "lumira_window_placed 0")) << metrics;

    lumira.pressOk(welcome);
    ASSERT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen));
    const QJsonObject showing = statusOf(port);
    EXPECT_EQ(showing[QStringLiteral("screenshot")].toString().toStdString(), "screen");
    // No token set: nobody reads the query over HTTP.
    EXPECT_EQ(showing[QStringLiteral("address")].toString().toStdString(),
              server.url(QStringLiteral("/sign")).toStdString());

    // A desktop's notice over the sign's top left corner and beyond it (the window keeper
    // leaves notices alone): the sign's pixels 0..99 x 0..79 are the notice's.
    const xcb_window_t notice = lumira.x.createNotice({50, 60, 150, 120}, kNoticeRed);
    ASSERT_TRUE(lumira.waitForPixel(150, 150, kNoticeRed, 2s));
    const auto covered = [](int x, int y) { return x < 100 && y < 80 ? kNoticeRed : kGreen; };
    // The picture within five seconds (it is shared for one).
    const auto soonShows = [&](const std::function<uint32_t(int, int)>& expected) {
        testing::AssertionResult shows = testing::AssertionFailure();
        harness::waitUntil(
            [&] {
                shows = pictureShows(curl(port, "/screenshot.png").body, 320, 240, expected);
                return bool(shows);
            },
            5s, 200ms);
        return shows;
    };
    EXPECT_TRUE(soonShows(covered)) << "the notice is not in the picture";
    EXPECT_EQ(lumira.x.pixel(150, 150), kNoticeRed) << "the notice did not stay";

    lumira.x.destroyWindow(notice);
    EXPECT_TRUE(soonShows(kAllGreen)) << "an old picture is still given out";
}

// Bad requests, a huge header, slow clients and fifty greedy ones at once, while the page fails
// and is retried: every connection is answered or closed in time, the sign shows its last good
// frame throughout, and the retry keeps its five seconds.
TEST(StatusServer, aBarrageOfBadAndGreedyClientsLeavesTheSignAndItsRetryAlone) {
    if (std::getenv("LUMIRA_TEST_ENGINE"))
        GTEST_SKIP() << "the server's own load: once, on the engine users get by default";
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    const quint16 port = harness::freeLoopbackPort();
    const std::string host = harness::loopbackHost(port);
    LumiraUnderTest lumira;
    const std::string ini =
        iniWithOptions(server.url(QStringLiteral("/sign")),
                       "Status=" + std::to_string(port) + "\r\nStatusToken=" + kToken + "\r\n");
    lumira.program.writeIni(ini);
    lumira.openDisplay();
    ASSERT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen));
    harness::pumpEventsFor(2s); // its first frame is kept

    // The page fails from now on: the server answers 500 and the renderer is ended.
    server.setResponse(500, "<html><body style='background:#fff'>down</body></html>");
    killRenderers(lumira);
    ASSERT_TRUE(harness::waitUntil([&] { return requestsFor(server, "/sign") >= 2; }, 8s))
        << "the retry did not start";

    // Each is answered with an error or its connection closed, never served.
    const std::string bearer = "Authorization: Bearer " + kToken + "\r\n";
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"garbage", "GARBAGE\r\n\r\n"},
        {"no Host", "GET /status HTTP/1.1\r\n\r\n"},
        {"TLS hello", std::string("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11)},
        {"length past 64 bits", "POST /address HTTP/1.1\r\nHost: " + host + "\r\n" + bearer +
                                    "Content-Length: 18446744073709551617\r\n\r\nurl=http://a/"},
        {"a chunk of 2^64", "POST /address HTTP/1.1\r\nHost: " + host + "\r\n" + bearer +
                                "Transfer-Encoding: chunked\r\n\r\nfffffffffffffff0\r\nurl="},
        {"100 kB target",
         "GET /" + std::string(100000, 'a') + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n"},
        {"1 MiB header", "GET /status HTTP/1.1\r\nHost: " + host +
                             "\r\nX-Filler: " + std::string(1 << 20, 'a') + "\r\n\r\n"},
        {"path out of the folder",
         "GET /../../../../etc/passwd HTTP/1.1\r\nHost: " + host + "\r\n\r\n"},
    };

    // Ten seconds for anything: the server closes every connection after five.
    const qint64 barrageStart = server.msSinceStart();
    const auto barrageEnd = std::chrono::steady_clock::now() + 20s;
    std::vector<std::future<HttpReply>> badReplies;
    for (size_t i = 0; i < bad.size(); ++i) // each from an address of its own: none is turned away
        badReplies.push_back(std::async(std::launch::async, [port, bytes = bad[i].second, i] {
            return harness::httpExchange("127.0.0.1", port, bytes, kAnswerTimeout,
                                         "127.0.1." + std::to_string(i + 1));
        }));
    Samples seen = lumira.sample(kSampleX, kSampleY, 1s);

    std::vector<std::future<std::optional<double>>> drips;
    const std::string slow = harness::httpRequest("GET", "/status", host);
    for (int i = 0; i < 20; ++i)
        drips.push_back(std::async(
            std::launch::async, [port, slow] { return sendUntilDropped(port, slow, 1, 1s, 12s); }));
    // Headers without end, as fast as the loopback takes them: every line would be kept.
    const qint64 memoryBefore = harness::ownMemoryKb(pid_t(lumira.program.pid()));
    auto flood = std::async(std::launch::async, [port, host] {
        return sendUntilDropped(port, "GET /status HTTP/1.1\r\nHost: " + host + "\r\n", 64 * 1024,
                                0ms, 10s, "127.0.2.1");
    });

    struct Greedy {
        int served = 0, dropped = 0, stuck = 0;
        std::string strange; // an answer neither the picture nor "unavailable"
        std::string picture;
    };
    const std::string shot = harness::httpRequest("GET", "/screenshot.png", host);
    std::vector<std::future<Greedy>> greedy;
    for (int i = 0; i < 50; ++i)
        greedy.push_back(std::async(std::launch::async, [port, shot, barrageEnd] {
            Greedy g;
            while (std::chrono::steady_clock::now() < barrageEnd) {
                HttpReply reply = harness::httpExchange("127.0.0.1", port, shot, kAnswerTimeout);
                if (reply.answered(200)) {
                    ++g.served;
                    g.picture = std::move(reply.body);
                } else if (reply.answered(503) || reply.outcome == HttpReply::Outcome::Closed ||
                           reply.outcome == HttpReply::Outcome::Refused) {
                    ++g.dropped;
                    std::this_thread::sleep_for(50ms);
                } else if (reply.outcome == HttpReply::Outcome::TimedOut) {
                    ++g.stuck;
                } else {
                    g.strange = describe(reply);
                }
            }
            return g;
        }));

    const Samples during = lumira.sample(kSampleX, kSampleY, 20s);
    for (const auto& [colour, count] : during.seen)
        seen.seen[colour] += count;
    const qint64 barrageStop = server.msSinceStart();
    const auto allDone = [](auto& futures) {
        for (auto& future : futures)
            if (future.wait_for(0s) != std::future_status::ready)
                return false;
        return true;
    };
    harness::waitUntil([&] { return allDone(badReplies) && allDone(drips) && allDone(greedy); },
                       15s, 20ms);
    const auto flooded = flood.get();
    EXPECT_TRUE(flooded && *flooded < 6000) << "endless headers were read for 10 s";
    EXPECT_LT(harness::ownMemoryKb(pid_t(lumira.program.pid())) - memoryBefore, kGrowthKb)
        << "kB the program grew by";

    EXPECT_TRUE(lumira.program.running()) << "the barrage ended the program";
    EXPECT_TRUE(seen.onlyOf({kGreen})) << "the sign during the barrage: " << seen;

    for (size_t i = 0; i < bad.size(); ++i) {
        const HttpReply reply = badReplies[i].get();
        EXPECT_TRUE(reply.outcome == HttpReply::Outcome::Closed ||
                    (reply.outcome == HttpReply::Outcome::Answered && reply.status >= 400))
            << bad[i].first << ": " << describe(reply);
    }
    for (auto& drip : drips) {
        const auto dropped = drip.get();
        EXPECT_TRUE(dropped && *dropped <= 10000)
            << "a slow client held a connection for " << (dropped ? *dropped : 12000) << " ms";
    }
    Greedy all;
    for (auto& future : greedy) {
        Greedy g = future.get();
        all.served += g.served;
        all.dropped += g.dropped;
        all.stuck += g.stuck;
        if (!g.strange.empty())
            all.strange = g.strange;
        if (!g.picture.empty())
            all.picture = std::move(g.picture);
    }
    EXPECT_EQ(all.stuck, 0) << "picture requests neither answered nor closed in 10 s";
    EXPECT_EQ(all.strange, "");
    EXPECT_GE(all.served, 50) << all.dropped << " dropped";
    EXPECT_TRUE(pictureShows(all.picture, 320, 240, kAllGreen));

    // The retry: every five seconds through it all.
    std::vector<qint64> at;
    for (const auto& request : server.requests())
        if (request.path == "/sign" && request.msSinceStart >= barrageStart &&
            request.msSinceStart <= barrageStop)
            at.push_back(request.msSinceStart);
    EXPECT_GE(at.size(), 3u) << "retries during the barrage";
    for (size_t i = 1; i < at.size(); ++i)
        EXPECT_NEAR(double(at[i] - at[i - 1]), 5000.0, 1000.0) << "between retries " << i;

    EXPECT_EQ(lumira.program.readIni().value_or(""), ini) << "a bad request changed the address";
    const HttpReply after = fetch(port, "/status", host);
    EXPECT_TRUE(after.answered(200)) << describe(after);
    EXPECT_EQ(stateOf(jsonObject(after.body)), "retrying");

    // Slow clients: sixteen from one address get four places, each cut five seconds after it
    // was accepted, and another address is served meanwhile; four from each of three more fill
    // the sixteen places, and the next client is closed at once.
    std::vector<std::future<std::optional<double>>> crowd;
    const auto slowFrom = [&](const std::string& from, int count) {
        for (int i = 0; i < count; ++i)
            crowd.push_back(std::async(std::launch::async, [port, slow, from] {
                return sendUntilDropped(port, slow, 1, 1s, 8s, from);
            }));
        harness::pumpEventsFor(500ms);
    };
    const auto fetchFrom = [&](const std::string& from) {
        return whilePumping([&] {
            return harness::httpExchange("127.0.0.1", port,
                                         harness::httpRequest("GET", "/status", host),
                                         kAnswerTimeout, from);
        });
    };
    slowFrom("127.0.0.1", 16);
    const HttpReply other = fetchFrom("127.0.0.2");
    EXPECT_TRUE(other.answered(200) && other.ms < 2000) << describe(other);
    for (const char* from : {"127.0.0.3", "127.0.0.4", "127.0.0.5"})
        slowFrom(from, 4);
    const PortSockets sockets = socketsOnPort(pid_t(lumira.program.pid()), port);
    EXPECT_EQ(sockets.count, 17) << "the listener and sixteen connections";
    EXPECT_EQ(sockets.inherited, 0) << "sockets a program the sign starts would hold";
    const HttpReply beyond = fetchFrom("127.0.0.6");
    EXPECT_EQ(beyond.outcome, HttpReply::Outcome::Closed) << describe(beyond);
    int atOnce = 0, cut = 0;
    for (auto& client : crowd) {
        const double ms = client.get().value_or(8000);
        atOnce += ms < 1000;
        cut += ms > 4500 && ms < 6000;
    }
    EXPECT_EQ(atOnce, 12) << "slow clients closed at once";
    EXPECT_EQ(cut, 16) << "slow clients cut at five seconds";
    EXPECT_TRUE(fetchFrom("127.0.0.6").answered(200)) << "the places are not free again";
}

namespace {

struct CommandRun {
    int exitCode = -1; // -1: crashed or did not end
    std::string out, err;
    double seconds = 0;
};

// `lumira --status` from the program's folder, without an X display.
CommandRun statusCommand(const std::string& executable) {
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    run.setProcessEnvironment(environment);
    const auto start = std::chrono::steady_clock::now();
    run.start(QString::fromStdString(executable), {QStringLiteral("--status")});
    harness::waitUntil(
        [&] { return run.state() == QProcess::NotRunning || run.waitForFinished(0); }, 10s);
    CommandRun result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.state() != QProcess::NotRunning) {
        run.kill();
        run.waitForFinished();
        return result;
    }
    if (run.exitStatus() == QProcess::NormalExit)
        result.exitCode = run.exitCode();
    result.out = run.readAllStandardOutput().toStdString();
    result.err = run.readAllStandardError().toStdString();
    return result;
}

// Nothing on stdout and one "lumira: " line on stderr.
void expectNoCopyAnswered(const CommandRun& run) {
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("lumira: ") && run.err.ends_with('\n') &&
                run.err.find('\n') == run.err.size() - 1)
        << run.err;
    EXPECT_LT(run.seconds, 5.0);
}

} // namespace

// `lumira --status`, with the server itself off (a value not understood): 1 without a running
// copy, 0 and the facts while the sign shows, 2 while its page fails.
TEST(StatusServer, statusCommandTellsTheRunningCopysStateByItsExitStatus) {
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    // The status server's port is taken: the sign runs on without it, and the command still
    // reaches the running copy through its own channel.
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    const std::string p = std::to_string(taken.serverPort());
    LumiraUnderTest lumira;
    const std::string url = server.url(QStringLiteral("/sign")).toStdString();
    lumira.program.writeIni(iniWithOptions(QString::fromStdString(url), "Status=" + p + "\r\n"));
    const std::string executable = lumira.program.executable();
    expectNoCopyAnswered(statusCommand(executable));

    lumira.openDisplay();
    ASSERT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen));
    EXPECT_TRUE(printed(lumira,
                        "lumira: the status server cannot listen on 127.0.0.1:" + p +
                            "; the sign runs on without it",
                        1s));
    EXPECT_EQ(lumira.program.output().find("status server on"), std::string::npos);
    const CommandRun showing = statusCommand(executable);
    EXPECT_EQ(showing.exitCode, 0) << showing.err;
    const QJsonObject facts = jsonObject(showing.out);
    EXPECT_EQ(stateOf(facts), "showing") << showing.out;
    EXPECT_EQ(facts[QStringLiteral("address")].toString().toStdString(), url);
    EXPECT_EQ(canonical(facts[QStringLiteral("folder")].toString().toStdString()),
              canonical(lumira.program.folder()));

    // The page's server goes away and the renderer with it: every load now meets a closed port.
    server.stop();
    killRenderers(lumira);
    CommandRun retrying;
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            retrying = statusCommand(executable);
            return retrying.exitCode == 2;
        },
        15s, 300ms))
        << retrying.exitCode << " " << retrying.out << retrying.err;
    const QJsonObject failing = jsonObject(retrying.out);
    EXPECT_EQ(stateOf(failing), "retrying") << retrying.out;
    EXPECT_GE(failing[QStringLiteral("failures_total")].toInt(), 1);
    EXPECT_FALSE(failing[QStringLiteral("last_failure")]
                     .toObject()[QStringLiteral("reason")]
                     .toString()
                     .isEmpty());
    EXPECT_GE(
        failing[QStringLiteral("renderer_restarts")].toObject()[QStringLiteral("crash")].toInt(),
        1);

    lumira.program.terminate();
    ASSERT_TRUE(lumira.program.waitForExit(15s));
    expectNoCopyAnswered(statusCommand(executable));
}

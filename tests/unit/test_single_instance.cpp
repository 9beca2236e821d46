// The one-copy channel, in the user's runtime folder or the home's cache folder: one holder per
// folder, requests answered, a killed copy's socket taken over, a frozen copy never waited for;
// no guard at all rather than one in a folder another user could reach. The commands it carries
// are refused by the running copy as the status server refuses them.
#include "platform/single_instance.h"
#include "status/sign_watch.h"
#include "welcome/command_line.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <latch>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using lumira::platform::SingleInstance;
using Request = SingleInstance::Request;

// The runtime folder (its mode, 0: none; its owner) and the home; where the socket is then.
enum class Home { Plain, LinkOnTheWay, CacheOpenToOthers, TooLong };
struct Row {
    const char* name;
    int runtimeMode;
    uid_t runtimeOwner;
    Home home;
    const char* folder; // below the temporary folder, or why no guard
};
const uid_t kUser = ::getuid();
const Row kRows[] = {
    {"private", 0700, kUser, Home::Plain, "runtime/UID"},
    {"runtime_missing", 0, kUser, Home::Plain, "home/.cache/lumira"},
    {"runtime_open_to_others", 0755, kUser, Home::Plain, "home/.cache/lumira"},
    {"runtime_of_another_user", 0700, 65534, Home::Plain, "home/.cache/lumira"},
    {"link_on_the_way", 0, kUser, Home::LinkOnTheWay, ".cache: a symbolic link"},
    {"cache_open_to_others", 0, kUser, Home::CacheOpenToOthers, "another user can change it"},
    {"path_too_long", 0, kUser, Home::TooLong, "too long a path for a socket"}};

class Channel : public testing::TestWithParam<Row> {
protected:
    QByteArray base() const { return QFile::encodeName(dir.filePath("runtime")); }
    QString homeName() const {
        return GetParam().home == Home::TooLong ? QString(60, 'h') : "home";
    }
    QByteArray home() const { return QFile::encodeName(dir.filePath(homeName())); }
    QString folder() const { return dir.filePath(GetParam().folder).replace("UID", uid); }
    bool guarded() const { return GetParam().runtimeMode || GetParam().home == Home::Plain; }
    void SetUp() override {
        if (GetParam().runtimeOwner != kUser && kUser != 0) {
            GTEST_SKIP() << "giving a folder to another user needs root";
        }
        const auto make = [&](const QString& path, mode_t mode) {
            QDir(dir.path()).mkpath(path);
            return ::chmod(QFile::encodeName(dir.filePath(path)).constData(), mode) == 0;
        };
        ASSERT_TRUE(make(homeName(), 0755));
        if (GetParam().runtimeMode) {
            ASSERT_TRUE(make("runtime/" + uid, GetParam().runtimeMode));
            ASSERT_EQ(::chown(base() + "/" + uid.toUtf8(), GetParam().runtimeOwner, 0), 0);
        }
        if (GetParam().home == Home::LinkOnTheWay) {
            ASSERT_TRUE(make("elsewhere/lumira", 0700) &&
                        QFile::link(dir.filePath("elsewhere"), dir.filePath("home/.cache")));
        }
        if (GetParam().home == Home::CacheOpenToOthers) {
            ASSERT_TRUE(make("home/.cache/lumira", 0703));
        }
    }
    // Runs the event loop until `done` or a second has passed, as the first copy's loop would.
    template <class Done> void serve(Done done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    // The reply to `request`, asked from a thread while this one serves.
    QByteArray askServed(Request request, const QByteArray& payload = {}) {
        std::optional<QByteArray> reply;
        std::atomic<bool> done = false;
        std::thread asker([&] {
            reply = SingleInstance::askFor(key, request, payload, 2000, base(), home());
            done = true;
        });
        serve([&] { return done.load(); });
        asker.join();
        return reply.value_or("none");
    }

    int argc = 1;
    char name[8] = "test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir dir;
    const QString uid = QString::number(kUser);
    const QString key = QStringLiteral("/opt/标志 A") + QString::number(::getpid());
};

TEST_P(Channel, oneHolderAnswersRequestsAndNobodyWaitsLong) {
    if (!guarded()) { // copies run side by side, and say so in one line
        testing::internal::CaptureStderr();
        const SingleInstance first(key, base(), home());
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(first.isFirst() && SingleInstance(key, base(), home()).isFirst());
        EXPECT_TRUE(said.starts_with("lumira: ") && said.find('\n') == said.size() - 1) << said;
        EXPECT_NE(said.find(GetParam().folder), std::string::npos) << said;
        return;
    }
    EXPECT_FALSE(SingleInstance::ask(key, Request::OpenSettings, 300, base(), home()))
        << "nobody yet";
    auto first = std::make_unique<SingleInstance>(key, base(), home());
    ASSERT_TRUE(first->isFirst());
    ASSERT_EQ(QDir(folder()).entryList(QDir::System).size(), 1) << qPrintable(folder());
    int forward = 0, settings = 0;
    QObject::connect(first.get(), &SingleInstance::activationRequested, [&] { ++forward; });
    QObject::connect(first.get(), &SingleInstance::settingsRequested, [&] { ++settings; });

    // The first copy answers from its event loop, which the asking side does not have here:
    // a thread asks while this one serves.
    bool answered = false;
    std::thread asker(
        [&] { answered = SingleInstance::ask(key, Request::OpenSettings, 2000, base(), home()); });
    serve([&] { return settings == 1; });
    asker.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(settings, 1);

    // A reply comes back whole after the answer byte, an address of a few KiB goes whole to
    // the copy, and neither asks for anything else.
    const QByteArray report =
        "{\"state\":\"showing\",\"address\":\"" + QByteArray(3000, 'a') + "\"}";
    const QByteArray page = ("https://标志.example/" + QString(1500, u'页')).toUtf8();
    first->setReply(Request::Report, [&](const QByteArray&) { return report; });
    first->setReply(Request::TakeAddress, [](const QByteArray& sent) { return "2不行：" + sent; });
    EXPECT_EQ(askServed(Request::Report), report);
    EXPECT_EQ(askServed(Request::TakeAddress, page), "2不行：" + page);
    EXPECT_EQ(askServed(Request::Reload), "") << "no reply set: an empty one, nothing done";
    EXPECT_EQ(forward + settings, 1);

    // The running copy's own checks, made before the sign is asked (before OK: no window).
    lumira::SignWatch watch;
    lumira::answerCommands(*first, watch);
    EXPECT_EQ(askServed(Request::TakeAddress, "http://example.cn/\xff"),
              "2the address is not UTF-8 text");
    EXPECT_EQ(askServed(Request::TakeAddress, page),
              "2the sign is not showing yet: OK on the welcome window opens it");

    bool second = true;
    std::thread starter([&] { second = SingleInstance(key, base(), home()).isFirst(); });
    serve([&] { return forward == 1; });
    starter.join();
    EXPECT_FALSE(second) << "a second copy of the same folder ran";
    EXPECT_EQ(forward, 1);
    EXPECT_TRUE(SingleInstance(key + QStringLiteral("/other"), base(), home()).isFirst());

    // Frozen: nobody serves the loop. The asker gives up within its limit.
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(SingleInstance::ask(key, Request::OpenSettings, 500, base(), home()));
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_FALSE(SingleInstance(key, base(), home()).isFirst())
        << "a frozen copy still holds the folder";

    // Killed: its socket stays behind in the file system, and is taken over by exactly one of
    // the copies started at once.
    const QStringList sockets = QDir(folder()).entryList(QDir::System);
    first.reset();
    ASSERT_EQ(sockets.size(), 1);
    const QByteArray path = QFile::encodeName(folder() + "/" + sockets[0]);
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale); // as SIGKILL leaves it: the file, nobody listening
    std::atomic<int> firsts = 0;
    std::latch started(4);
    std::unique_ptr<QThread> copies[4];
    for (auto& copy : copies) {
        copy.reset(QThread::create([&] {
            const SingleInstance copy(key, base(), home());
            firsts += copy.isFirst() ? 1 : 0;
            started.arrive_and_wait(); // all copies live until each has started
        }));
        copy->start();
    }
    for (auto& copy : copies)
        copy->wait();
    EXPECT_EQ(firsts, 1) << "blocked by a killed copy, or two copies took the folder";
}

// A copy that took the cache folder while the runtime folder was missing is found by later ones.
TEST_P(Channel, aCopyInTheCacheFolderIsFoundOnceTheRuntimeFolderIsThere) {
    const SingleInstance first(key, "/nonexistent", home()); // frozen: it never answers
    EXPECT_EQ(SingleInstance(key, base(), home()).isFirst(), !guarded());
}

INSTANTIATE_TEST_SUITE_P(Places, Channel, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

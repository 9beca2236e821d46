// The one-copy channel, in the user's runtime folder or the home's cache folder: one holder per
// folder, requests answered, a killed copy's socket taken over, a frozen copy never waited for,
// and no guard at all rather than one in a folder another user could reach. Also what a program
// the sign starts (the help viewer) inherits of it: nothing but 0, 1 and 2.
#include "platform/single_instance.h"
#include "platform/text_viewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <latch>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using lumira::platform::SingleInstance;
using Request = SingleInstance::Request;

// How the user's runtime folder stands; all but the first leave the channel to the home's cache.
enum class Runtime { Private, Missing, OpenToOthers, OtherUsers };

class Channel : public testing::TestWithParam<Runtime> {
protected:
    QByteArray base() const { return QFile::encodeName(runtime.path()); }
    QByteArray home() const { return QFile::encodeName(homes.path()); }
    QString ownRuntime() const { return runtime.filePath(QString::number(::getuid())); }
    // Where the socket is expected.
    QString folder() const {
        return GetParam() == Runtime::Private ? ownRuntime() : homes.filePath(".cache/lumira");
    }
    void SetUp() override {
        if (GetParam() == Runtime::OtherUsers && ::getuid() != 0) {
            GTEST_SKIP() << "giving a folder to another user needs root";
        }
        if (GetParam() == Runtime::Missing)
            return;
        ASSERT_TRUE(QDir(runtime.path()).mkdir(QString::number(::getuid())));
        ASSERT_TRUE(QFile::setPermissions(ownRuntime(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              (GetParam() == Runtime::OpenToOthers
                                                   ? QFile::ReadOther | QFile::ExeOther
                                                   : QFile::Permissions())));
        if (GetParam() == Runtime::OtherUsers) {
            ASSERT_EQ(::chown(QFile::encodeName(ownRuntime()).constData(), 65534, 65534), 0);
        }
    }
    // Runs the event loop until `done` or a second has passed, as the first copy's loop would.
    template <class Done> void serve(Done done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    int argc = 1;
    char name[8] = "test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir runtime;
    QTemporaryDir homes; // the user's home
    const QString key = QStringLiteral("/opt/标志 A") + QString::number(::getpid());
};

TEST_P(Channel, oneHolderAnswersRequestsAndNobodyWaitsLong) {
    EXPECT_FALSE(SingleInstance::ask(key, Request::OpenSettings, 300, base(), home()))
        << "nobody yet";
    auto first = std::make_unique<SingleInstance>(key, base(), home());
    ASSERT_TRUE(first->isFirst());
    ASSERT_EQ(QDir(folder()).entryList(QDir::System).size(), 1)
        << "no socket in " << qPrintable(folder());
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

    // A report comes back whole, after the answer byte, and asks for nothing else.
    const QByteArray report =
        "{\"state\":\"showing\",\"address\":\"" + QByteArray(3000, 'a') + "\"}";
    first->setReport([&] { return report; });
    std::optional<QByteArray> got;
    std::thread reporter([&] { got = SingleInstance::askForReport(key, 2000, base(), home()); });
    serve([&] { return got.has_value(); });
    reporter.join();
    EXPECT_EQ(got.value_or("none"), report);
    EXPECT_EQ(forward + settings, 1);

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
    std::latch started(6);
    std::vector<std::unique_ptr<QThread>> copies;
    for (int i = 0; i < 6; ++i) {
        copies.emplace_back(QThread::create([&] {
            SingleInstance copy(key, base(), home());
            firsts += copy.isFirst();
            started.arrive_and_wait();
        }));
        copies.back()->start();
    }
    for (auto& copy : copies)
        copy->wait();
    EXPECT_EQ(firsts, 1) << "blocked by a killed copy, or two copies took the folder";
}

std::string nameOf(const testing::TestParamInfo<Runtime>& info) {
    const char* names[] = {"private", "missing", "open_to_others", "another_users"};
    return names[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Runtimes, Channel,
                         testing::Values(Runtime::Private, Runtime::Missing, Runtime::OpenToOthers,
                                         Runtime::OtherUsers),
                         nameOf);

// A copy that took the cache folder, before the runtime folder existed, is found by later ones
// (with the runtime folder unusable, both meet there).
TEST_P(Channel, aCopyInTheCacheFolderIsFoundOnceTheRuntimeFolderIsThere) {
    SingleInstance first(key, "/nonexistent", home());
    ASSERT_TRUE(first.isFirst());
    int forward = 0, settings = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++forward; });
    QObject::connect(&first, &SingleInstance::settingsRequested, [&] { ++settings; });
    bool second = true, answered = false;
    std::thread later([&] {
        second = SingleInstance(key, base(), home()).isFirst();
        answered = SingleInstance::ask(key, Request::OpenSettings, 2000, base(), home());
    });
    serve([&] { return settings == 1; });
    later.join();
    EXPECT_FALSE(second);
    EXPECT_TRUE(answered);
    EXPECT_EQ(forward, 1);
}

// Where the cache folder is not safe to use, or its socket's path too long, copies run unguarded
// and say so in one line.
struct Unsafe {
    const char* name;
    const char* reason;                                         // what the line says
    std::function<QByteArray(const QTemporaryDir& homes)> home; // made ready, returned
};

class NoGuard : public testing::TestWithParam<Unsafe> {};

TEST_P(NoGuard, copiesRunSideBySideAndSaySo) {
    int argc = 1;
    char name[8] = "test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir homes;
    const QByteArray home = GetParam().home(homes);
    const QString key = QStringLiteral("/opt/sign");
    testing::internal::CaptureStderr();
    SingleInstance first(key, "/nonexistent", home);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(first.isFirst());
    EXPECT_TRUE(SingleInstance(key, "/nonexistent", home).isFirst());
    EXPECT_EQ(said.rfind("lumira: ", 0), 0u) << said;
    EXPECT_NE(said.find("without the one-copy guard\n"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find(GetParam().reason), std::string::npos) << said;
}

QByteArray madePrivate(const QString& path) {
    QDir().mkpath(path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return QFile::encodeName(path);
}

INSTANTIATE_TEST_SUITE_P(
    Homes, NoGuard,
    testing::Values(Unsafe{"symbolic_link_on_the_way", ".cache: a symbolic link",
                           [](const QTemporaryDir& homes) {
                               madePrivate(homes.filePath("elsewhere/lumira"));
                               QFile::link(homes.filePath("elsewhere"), homes.filePath(".cache"));
                               return QFile::encodeName(homes.path());
                           }},
                    Unsafe{"cache_folder_open_to_others", "another user can change it",
                           [](const QTemporaryDir& homes) {
                               madePrivate(homes.filePath(".cache/lumira"));
                               QFile::setPermissions(homes.filePath(".cache/lumira"),
                                                     QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::WriteOther |
                                                         QFile::ExeOther);
                               return QFile::encodeName(homes.path());
                           }},
                    Unsafe{"path_too_long", "too long a path",
                           [](const QTemporaryDir& homes) {
                               return madePrivate(homes.filePath(QString(60, QChar('h'))));
                           }}),
    [](const testing::TestParamInfo<Unsafe>& info) { return std::string(info.param.name); });

// Descriptors opened without close-on-exec (as a library may open its connections) stay here;
// the program started holds 0, 1 and 2 only (3 is its listing's own folder), and once it is
// started no process of ours is left to reap.
TEST(ChildProgram, inheritsOnlyStandardInputOutputAndError) {
    QTemporaryDir dir;
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const int far = ::dup2(pair[0], 60);
    const QString listing = dir.filePath(QStringLiteral("fds"));
    ASSERT_TRUE(lumira::platform::startDetachedProgram(
        QStringLiteral("sh"),
        {QStringLiteral("-c"),
         QStringLiteral("ls /proc/self/fd >\"$0\".part && mv \"$0\".part \"$0\""), listing}));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a process of ours is left";
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(listing) && waited.elapsed() < 5000)
        QThread::msleep(10);
    std::ostringstream fds;
    fds << std::ifstream(listing.toStdString()).rdbuf();
    EXPECT_EQ(fds.str(), "0\n1\n2\n3\n");
    for (int fd : {pair[0], pair[1], far})
        ::close(fd);
    EXPECT_FALSE(lumira::platform::startDetachedProgram(QStringLiteral("no-such-viewer"), {}));
}

} // namespace

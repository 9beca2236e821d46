// The one-copy channel, in the user's runtime folder and as an abstract name: one holder per
// folder, requests answered, a killed copy's socket taken over, a frozen copy never waited for.
#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using lumira::platform::SingleInstance;
using Request = SingleInstance::Request;

class Channel : public testing::TestWithParam<bool> {
protected:
    // A runtime folder of the user's own (the parameter) or none, so the abstract name serves.
    QByteArray base() const {
        return GetParam() ? QFile::encodeName(runtime.path()) : QByteArray("/nonexistent");
    }
    void SetUp() override {
        ASSERT_TRUE(QDir(runtime.path()).mkdir(QString::number(::getuid())));
        ASSERT_TRUE(QFile::setPermissions(runtime.filePath(QString::number(::getuid())),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
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
    const QString key = QStringLiteral("/opt/标志 A") + QString::number(::getpid());
};

TEST_P(Channel, oneHolderAnswersRequestsAndNobodyWaitsLong) {
    EXPECT_FALSE(SingleInstance::ask(key, Request::OpenSettings, 300, base())) << "nobody yet";
    auto first = std::make_unique<SingleInstance>(key, base());
    ASSERT_TRUE(first->isFirst());
    int forward = 0, settings = 0;
    QObject::connect(first.get(), &SingleInstance::activationRequested, [&] { ++forward; });
    QObject::connect(first.get(), &SingleInstance::settingsRequested, [&] { ++settings; });

    // The first copy answers from its event loop, which the asking side does not have here:
    // a thread asks while this one serves.
    bool answered = false;
    std::thread asker(
        [&] { answered = SingleInstance::ask(key, Request::OpenSettings, 2000, base()); });
    serve([&] { return settings == 1; });
    asker.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(settings, 1);

    // A report comes back whole, after the answer byte, and asks for nothing else.
    const QByteArray report =
        "{\"state\":\"showing\",\"address\":\"" + QByteArray(3000, 'a') + "\"}";
    first->setReport([&] { return report; });
    std::optional<QByteArray> got;
    std::thread reporter([&] { got = SingleInstance::askForReport(key, 2000, base()); });
    serve([&] { return got.has_value(); });
    reporter.join();
    EXPECT_EQ(got.value_or("none"), report);
    EXPECT_EQ(forward + settings, 1);

    bool second = true;
    std::thread starter([&] { second = SingleInstance(key, base()).isFirst(); });
    serve([&] { return forward == 1; });
    starter.join();
    EXPECT_FALSE(second) << "a second copy of the same folder ran";
    EXPECT_EQ(forward, 1);
    EXPECT_TRUE(SingleInstance(key + QStringLiteral("/other"), base()).isFirst());

    // Frozen: nobody serves the loop. The asker gives up within its limit.
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(SingleInstance::ask(key, Request::OpenSettings, 500, base()));
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_FALSE(SingleInstance(key, base()).isFirst()) << "a frozen copy still holds the folder";

    // Killed: its socket stays behind in the file system, and is taken over.
    const QStringList sockets =
        QDir(runtime.filePath(QString::number(::getuid()))).entryList(QDir::System);
    first.reset();
    if (GetParam()) {
        ASSERT_EQ(sockets.size(), 1);
        const QByteArray path =
            QFile::encodeName(runtime.filePath(QString::number(::getuid()) + "/" + sockets[0]));
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(stale); // as SIGKILL leaves it: the file, nobody listening
    }
    EXPECT_TRUE(SingleInstance(key, base()).isFirst()) << "blocked by a killed copy";
}

INSTANTIATE_TEST_SUITE_P(Modes, Channel, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "runtime_folder" : "abstract_name";
                         });

} // namespace

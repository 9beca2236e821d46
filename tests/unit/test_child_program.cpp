// What a program the sign starts (the help viewer) inherits of it: nothing but 0, 1 and 2.
#include "platform/text_viewer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Descriptors opened without close-on-exec (as a library may open its connections) stay here;
// the program started holds 0, 1 and 2 only (3 is its listing's own folder), and once it is
// started no process of ours is left to reap.
TEST(ChildProgram, holdsOnlyStandardInputOutputAndError) {
    QTemporaryDir dir;
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const int far = ::dup2(pair[0], 60);
    const QString listing = dir.filePath(QStringLiteral("fds"));
    ASSERT_TRUE(lumira::platform::startDetachedProgram(
        QStringLiteral("sh"),
        {QStringLiteral("-c"),
         QStringLiteral("ls /proc/self/fd >\"$0\".tmp && mv \"$0\".tmp \"$0\""), listing}));
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

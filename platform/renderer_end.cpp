#include "platform/renderer_end.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumira::platform {

namespace {

qint64 parentOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

bool isOurDescendant(qint64 pid) {
    const qint64 self = ::getpid();
    for (int depth = 0; depth < 16 && pid > 1; ++depth) {
        pid = parentOf(pid);
        if (pid == self)
            return true;
    }
    return false;
}

bool startedAs(qint64 pid, const QByteArray& type) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(type);
}

// A renderer says so on its command line, or is forked by the engine's zygote, whose command
// line it keeps.
bool isRenderer(qint64 pid) {
    return startedAs(pid, QByteArrayLiteral("--type=renderer")) ||
           startedAs(parentOf(pid), QByteArrayLiteral("--type=zygote"));
}

} // namespace

bool endRenderer(qint64 pid) {
    if (pid <= 1 || pid == ::getpid())
        return false;
    // The handle first: from here on the checks and the signal concern one process, even if
    // the number is given to another in between.
    const int handle = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
    const bool ours = isOurDescendant(pid) && isRenderer(pid);
    bool sent = false;
    if (handle >= 0) {
        sent = ours && ::syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0;
        ::close(handle);
    } else if (ours) {
        sent = ::kill(pid_t(pid), SIGKILL) == 0; // a kernel without process handles
    }
    return sent;
}

bool engineInSingleProcess() {
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    return flags.contains("--single-process") ||
           QCoreApplication::arguments().contains(QStringLiteral("--single-process"));
}

} // namespace lumira::platform

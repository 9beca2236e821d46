#include "platform/renderer_end.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <csignal>
#include <initializer_list>
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

// Children of every thread of `pid`.
std::vector<qint64> childrenOf(qint64 pid) {
    std::vector<qint64> children;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile list(tasks.filePath(task + QStringLiteral("/children")));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& child : list.readAll().split(' ')) {
            if (const qint64 number = child.trimmed().toLongLong(); number > 0)
                children.push_back(number);
        }
    }
    return children;
}

} // namespace

std::vector<qint64> ourRenderers() {
    std::vector<qint64> found;
    std::vector<qint64> below = childrenOf(::getpid());
    for (size_t i = 0; i < below.size() && i < 256; ++i) {
        const qint64 pid = below[i];
        // The zygote's own fork keeps its command line too and is counted, but holds next to
        // no memory of its own; the renderers are its children.
        if (isRenderer(pid))
            found.push_back(pid);
        const std::vector<qint64> children = childrenOf(pid);
        below.insert(below.end(), children.begin(), children.end());
    }
    return found;
}

// The sum of some of a process's memory figures (kB fields of /proc/PID/status), in MiB.
static double memoryFieldsMiB(qint64 pid, std::initializer_list<const char*> fields) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    long long kib = 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        for (const char* field : fields)
            if (line.startsWith(field))
                kib += line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return double(kib) / 1024.0;
}

double ownMemoryMiB(qint64 pid) {
    return memoryFieldsMiB(pid, {"RssAnon:", "RssShmem:"});
}

double residentMiB(qint64 pid) {
    return memoryFieldsMiB(pid, {"VmRSS:"});
}

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

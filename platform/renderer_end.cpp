#include "platform/renderer_end.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <csignal>
#include <functional>
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

// The process's arguments, read at NUL and at blanks: the engine may rewrite its processes'
// titles as one string joined by blanks (it does so when a session bus is around).
QList<QByteArray> argumentsOf(qint64 pid) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = cmdline.readAll();
    text.replace('\0', ' ');
    return text.split(' ');
}

bool runs(qint64 pid, const QByteArray& executable) {
    return executable.isEmpty() || executableOf(pid) == executable;
}

bool startedAs(qint64 pid, const QByteArray& type, const QByteArray& executable) {
    return runs(pid, executable) && argumentsOf(pid).contains(type);
}

// A renderer runs the engine's helper and says so on its command line, or is forked by the
// engine's zygote, whose command line it keeps.
bool isRenderer(qint64 pid, const QByteArray& helper) {
    return startedAs(pid, QByteArrayLiteral("--type=renderer"), helper) ||
           (runs(pid, helper) &&
            startedAs(parentOf(pid), QByteArrayLiteral("--type=zygote"), helper));
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

// SIGKILL on a process handle (pidfd) taken before the checks, so that the checks and the
// signal concern one process even if the number is given to another in between.
bool killIf(qint64 pid, const std::function<bool()>& check) {
    if (pid <= 1 || pid == ::getpid())
        return false;
    const int handle = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
    const bool ours = isOurDescendant(pid) && check();
    bool sent = false;
    if (handle >= 0) {
        sent = ours && ::syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0;
        ::close(handle);
    } else if (ours) {
        sent = ::kill(pid_t(pid), SIGKILL) == 0; // a kernel without process handles
    }
    return sent;
}

} // namespace

QByteArray executableOf(qint64 pid) {
    char target[4096];
    const ssize_t length = ::readlink(
        QByteArray("/proc/" + QByteArray::number(pid) + "/exe").constData(), target, sizeof target);
    return length > 0 ? QByteArray(target, length) : QByteArray();
}

std::vector<qint64> ourRenderers(const QByteArray& helper) {
    std::vector<qint64> found;
    std::vector<qint64> below = childrenOf(::getpid());
    for (size_t i = 0; i < below.size() && i < 256; ++i) {
        const qint64 pid = below[i];
        // The zygote's own fork keeps its command line too and is counted, but holds next to
        // no memory of its own; the renderers are its children.
        if (isRenderer(pid, helper))
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

bool endPageRenderer(qint64 pid) {
    return killIf(pid, [] { return true; });
}

bool endRenderer(qint64 pid, const QByteArray& helper) {
    return !helper.isEmpty() && killIf(pid, [pid, &helper] { return isRenderer(pid, helper); });
}

bool engineInSingleProcess() {
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    return flags.contains("--single-process") ||
           QCoreApplication::arguments().contains(QStringLiteral("--single-process"));
}

long long cpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : 0;
}

} // namespace lumira::platform

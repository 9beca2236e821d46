#include "platform/text_viewer.h"

#include "platform/child_start.h"

#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace lumira::platform {

namespace {

std::function<void(const QString&)>& launcher() {
    static std::function<void(const QString&)> current;
    return current;
}

} // namespace

bool startDetachedProgram(const QString& program, const QStringList& arguments) {
    const QString found = program.contains('/') ? program : QStandardPaths::findExecutable(program);
    if (found.isEmpty() || ::access(QFile::encodeName(found).constData(), X_OK) != 0)
        return false;
    // Everything the child needs is made here: after fork() it may not allocate.
    const QByteArray path = QFile::encodeName(found);
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int highest = highestDescriptor();

    const pid_t middle = ::fork();
    if (middle < 0)
        return false;
    if (middle == 0) {
        // The middle process starts the program and ends at once, so the program belongs to
        // the system's reaper from its first moment.
        const pid_t child = ::fork();
        if (child != 0)
            ::_exit(child < 0 ? 1 : 0);
        prepareChildForExec(3, highest);
        ::execve(path.constData(), argv.data(), environ);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0) {
        if (errno != EINTR)
            return true; // reaped elsewhere: its outcome is unknown, the start went ahead
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void openInTextViewer(const QString& path) {
    if (launcher()) {
        launcher()(path);
        return;
    }
    startDetachedProgram(QStringLiteral("xdg-open"), {path});
}

void setTextViewerLauncher(std::function<void(const QString& path)> replacement) {
    launcher() = std::move(replacement);
}

} // namespace lumira::platform

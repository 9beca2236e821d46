#include "program_runner.h"

#include "wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace harness {

namespace {

// The executable and the files it ships with; build-system files stay behind.
bool belongsToProgram(const QFileInfo& file) {
    static const QStringList assetSuffixes = {"png", "jpg",  "jpeg", "ico",
                                              "htm", "html", "txt",  "so"};
    if (file.fileName() == "lumira") {
        return true;
    }
    if (file.fileName().startsWith("CMake", Qt::CaseInsensitive)) {
        return false;
    }
    return assetSuffixes.contains(file.suffix().toLower());
}

std::optional<std::string> readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll().toStdString();
}

} // namespace

ProgramRunner::ProgramRunner(const std::string& buildDir, const std::string& folderName) {
    if (!base_.isValid()) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    folder_ = base_.path() + "/" + QString::fromStdString(folderName);
    if (!QDir().mkpath(folder_)) {
        throw std::runtime_error("cannot create " + folder());
    }
    const QDir source(QString::fromStdString(buildDir));
    for (const QFileInfo& file : source.entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        if (belongsToProgram(file) &&
            !QFile::copy(file.absoluteFilePath(), folder_ + "/" + file.fileName())) {
            throw std::runtime_error("cannot copy " + file.absoluteFilePath().toStdString());
        }
    }
    if (!QFileInfo(QString::fromStdString(executable())).isExecutable()) {
        throw std::runtime_error("no executable 'lumira' in " + buildDir);
    }
}

ProgramRunner::~ProgramRunner() {
    kill();
    if (processGroup_ > 0) { // helpers the program left behind after it exited on its own
        ::kill(-static_cast<pid_t>(processGroup_), SIGKILL);
    }
}

std::string ProgramRunner::folder() const {
    return folder_.toStdString();
}

std::string ProgramRunner::executable() const {
    return folder() + "/lumira";
}

QString ProgramRunner::path(const std::string& name) const {
    const QString relative = QString::fromStdString(name);
    if (relative.isEmpty() || QDir::isAbsolutePath(relative) ||
        relative.split('/').contains("..")) {
        throw std::invalid_argument("file name must stay inside the program folder: " + name);
    }
    return folder_ + "/" + relative;
}

// The engine a test run asks for: LUMIRA_TEST_ENGINE, set by the test's CTest entry for the
// second run of the engine's contract, never read by the program. "Engine=<it>\r\n", or empty.
static std::string engineLine() {
    const QByteArray engine = qgetenv("LUMIRA_TEST_ENGINE");
    return engine.isEmpty() ? std::string() : "Engine=" + engine.toStdString() + "\r\n";
}

static const std::string kOptions = "[Options]\r\n";

void ProgramRunner::writeIni(const std::string& bytes) {
    const std::string engine = engineLine();
    std::string text = bytes;
    addedOptions_ = false;
    if (!engine.empty() && text.find("Engine=") == std::string::npos) {
        // Under section Options, added at the end when the file has none.
        if (const size_t at = text.find(kOptions); at != std::string::npos) {
            text.insert(at + kOptions.size(), engine);
        } else {
            if (!text.empty() && text.back() != '\n')
                text += "\r\n";
            text += kOptions + engine;
            addedOptions_ = true;
        }
    }
    writeFile("lumira.ini", text);
}

std::optional<std::string> ProgramRunner::readIni() const {
    std::optional<std::string> text = readFile("lumira.ini");
    const std::string engine = engineLine();
    if (!text || engine.empty())
        return text;
    // What the test wrote, without what the run added.
    const std::string added = addedOptions_ ? kOptions + engine : engine;
    if (const size_t at = text->find(added); at != std::string::npos)
        text->erase(at, added.size());
    if (text->empty() && addedOptions_)
        return std::nullopt;
    return text;
}

bool ProgramRunner::iniExists() const {
    return readIni().has_value();
}

void ProgramRunner::writeFile(const std::string& name, const std::string& bytes) {
    const QString target = path(name);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size())) {
        throw std::runtime_error("cannot write " + target.toStdString());
    }
}

std::optional<std::string> ProgramRunner::readFile(const std::string& name) const {
    return readBytes(path(name));
}

void ProgramRunner::removeFile(const std::string& name) {
    const QString target = path(name);
    if (QFileInfo::exists(target) && !QFile::remove(target)) {
        throw std::runtime_error("cannot remove " + target.toStdString());
    }
}

void ProgramRunner::start(const QStringList& extraEnv, const QStringList& arguments) {
    if (running()) {
        throw std::logic_error("the program is already running");
    }
    if (!engineLine().empty() && !QFileInfo::exists(path("lumira.ini")))
        writeIni({}); // holds only the engine, and counts as no file
    // The environment users have: the program settles its engine's settings itself. Its cache
    // (Chromium's profile, one per program folder) lives and goes with the test's folder.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), base_.path() + QStringLiteral("/cache"));
    for (const QString& entry : extraEnv) {
        const qsizetype eq = entry.indexOf('=');
        if (eq < 0) {
            env.remove(entry);
        } else {
            env.insert(entry.left(eq), entry.mid(eq + 1));
        }
    }

    process_ = std::make_unique<QProcess>();
    process_->setProcessEnvironment(env);
    process_->setWorkingDirectory(base_.path());
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setChildProcessModifier([] {
        ::setpgid(0, 0); // own process group, so kill() reaches the helpers
    });
    output_.clear();
    QObject::connect(process_.get(), &QProcess::readyReadStandardOutput, process_.get(),
                     [this] { output(); });
    process_->start(QString::fromStdString(executable()), arguments);
    if (!process_->waitForStarted(10000)) {
        throw std::runtime_error("cannot start " + executable() + ": " +
                                 process_->errorString().toStdString());
    }
    processGroup_ = process_->processId();
}

bool ProgramRunner::waitForExit(std::chrono::milliseconds timeout) {
    if (!process_) {
        return true;
    }
    return waitUntil(
        [&] { return process_->state() == QProcess::NotRunning || process_->waitForFinished(0); },
        timeout);
}

int ProgramRunner::exitCode() const {
    if (!process_ || process_->state() != QProcess::NotRunning ||
        process_->exitStatus() == QProcess::CrashExit) {
        return -1;
    }
    return process_->exitCode();
}

bool ProgramRunner::crashed() const {
    return process_ && process_->state() == QProcess::NotRunning &&
           process_->exitStatus() == QProcess::CrashExit;
}

bool ProgramRunner::running() const {
    return process_ && process_->state() != QProcess::NotRunning;
}

qint64 ProgramRunner::pid() const {
    return process_ ? process_->processId() : 0;
}

std::string ProgramRunner::output() {
    if (process_) {
        const QByteArray fresh = process_->readAllStandardOutput();
        std::fwrite(fresh.constData(), 1, size_t(fresh.size()), stderr);
        output_ += fresh.toStdString();
    }
    return output_;
}

void ProgramRunner::terminate() {
    if (running()) {
        process_->terminate();
    }
}

void ProgramRunner::kill() {
    if (!running()) {
        return;
    }
    ::kill(-static_cast<pid_t>(process_->processId()), SIGKILL);
    process_->kill();
    process_->waitForFinished(5000);
}

} // namespace harness

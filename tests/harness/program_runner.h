#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace harness {

// A private copy of the built program in a fresh folder (with its own lumira.ini) that a test
// starts, watches and stops; the folder goes away with the runner.
class ProgramRunner {
public:
    // Copies `lumira` and its assets from `buildDir` into <temporary dir>/<folderName>.
    // `folderName` may contain blanks and Chinese characters. Throws std::runtime_error when
    // the executable is missing or the copy fails.
    explicit ProgramRunner(const std::string& buildDir, const std::string& folderName = "lumira");
    ~ProgramRunner();
    ProgramRunner(const ProgramRunner&) = delete;
    ProgramRunner& operator=(const ProgramRunner&) = delete;

    std::string folder() const;     // UTF-8, no trailing slash
    std::string executable() const; // folder() + "/lumira"

    // A run of the engine's contract on another engine (LUMIRA_TEST_ENGINE) has Engine= added to
    // section Options of the file written, and taken out of what is read back.
    void writeIni(const std::string& bytes);
    std::optional<std::string> readIni() const;
    bool iniExists() const;
    // `name` is relative to folder(); absolute names and ".." are refused.
    void writeFile(const std::string& name, const std::string& bytes);
    std::optional<std::string> readFile(const std::string& name) const;
    void removeFile(const std::string& name);

    // Starts the program. `extraEnv` entries are "NAME=value" (set or override) or "NAME"
    // (remove). The working directory is NOT the program folder, so the program must find its
    // files beside its executable.
    void start(const QStringList& extraEnv = {}, const QStringList& arguments = {});
    bool waitForExit(std::chrono::milliseconds timeout);
    // Exit code after a normal exit; -1 while running, if never started, or after a crash
    // (death by a signal, including terminate()/kill()).
    int exitCode() const;
    bool crashed() const;
    bool running() const;
    qint64 pid() const;
    // Everything the program printed so far (stdout and stderr); it also goes to the test's
    // stderr as it comes. Needs Qt events flowing, as waitUntil keeps them.
    std::string output();
    void terminate(); // SIGTERM to the program
    void kill();      // SIGKILL to the program and every process it started

private:
    QString path(const std::string& name) const;

    QTemporaryDir base_;
    QString folder_;
    std::unique_ptr<QProcess> process_;
    std::string output_;
    qint64 processGroup_ = 0;
    bool addedOptions_ = false; // section Options was added to hold the run's engine
};

} // namespace harness

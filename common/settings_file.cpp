#include "common/settings_file.h"

#include "common/ini_sm.h"
#include "common/program_folder.h"
#include "common/safe_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace lumira {

namespace {

QString shippedFile() {
    return inProgramFolder(QStringLiteral("lumira.ini"));
}

constexpr std::string_view kPlain =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+_";

// The file settings are read from: cfgfn or, while it does not exist yet, the shipped defaults.
QString readFrom(const QString& cfgfn) {
    return QFileInfo::exists(cfgfn) ? cfgfn : shippedFile();
}

} // namespace

// The program folder holds the settings only when it is the running user's own, writable by
// that user and by nobody else, is not the installed program's folder (under /usr), and its
// lumira.ini is no symbolic link. Otherwise a root who runs a copy in another user's folder, or
// in a folder others may write, could be led to write anywhere, and the installed program
// would write a file no package owns.
bool programFolderHoldsSettings(const QString& folder) {
    const std::string path = QFile::encodeName(QFileInfo(folder).canonicalFilePath()).toStdString();
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || !isWritable(path, st) || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return false;
    if (path == "/usr" || path.starts_with("/usr/"))
        return false;
    struct stat file {};
    return ::lstat((path + "/lumira.ini").c_str(), &file) != 0 || !S_ISLNK(file.st_mode);
}

QString settingsFileFor(const QString& programFolder, bool folderHoldsSettings,
                        const QString& xdgConfigHome, const QString& home) {
    if (folderHoldsSettings)
        return programFolder + QStringLiteral("/lumira.ini");
    const QString base =
        QDir::isAbsolutePath(xdgConfigHome) ? xdgConfigHome : home + QStringLiteral("/.config");
    return base + QStringLiteral("/lumira/lumira.ini");
}

QString settingsFile() {
    const QString folder = programFolder();
    return settingsFileFor(folder, programFolderHoldsSettings(folder),
                           qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
}

std::string readSetting(const QString& cfgfn, const std::string& section, const std::string& key) {
    return readIniValue(section, key, QFile::encodeName(readFrom(cfgfn)).toStdString());
}

void prepareSettingsWrite(const QString& cfgfn) {
    const QString shipped = shippedFile();
    if (cfgfn == shipped || QFileInfo::exists(cfgfn))
        return;
    QDir().mkpath(QFileInfo(cfgfn).absolutePath());
    // Started whole, in one replacement, as a copy of the shipped file (or empty); the save
    // then changes it as any other.
    std::string shippedBytes;
    readRegularFile(QFile::encodeName(shipped).toStdString(), shippedBytes);
    replaceFile(QFile::encodeName(cfgfn).toStdString(), shippedBytes, nullptr);
}

std::string exposedTokenWarning(const QString& cfgfn, const std::string& statusToken) {
    const std::string path = QFile::encodeName(readFrom(cfgfn)).toStdString();
    struct stat st {};
    if (statusToken.empty() || ::stat(path.c_str(), &st) != 0 ||
        !(st.st_mode & (S_IRGRP | S_IROTH)))
        return {};
    // Quoted for the shell unless plain; a ' inside closes, escapes and reopens the quotes.
    std::string quoted;
    if (path.find_first_not_of(kPlain) == std::string::npos) {
        quoted = path;
    } else {
        quoted.push_back('\'');
        for (const char c : path)
            quoted.append(c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1));
        quoted.push_back('\'');
    }
    std::string warning("StatusToken is set in ");
    warning.append(path).append(", which other users can read; to keep the token to yourself: ");
    return warning.append("chmod 600 ").append(quoted);
}

} // namespace lumira

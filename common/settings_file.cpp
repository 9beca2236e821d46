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

constexpr mode_t kOwnerOnly = 0600; // an address can hold a password

// The program folder holds the settings only when it is the running user's own and writable,
// is not the installed program's folder (under /usr), and its lumira.ini is no symbolic link.
// Otherwise a root who runs a copy in another user's folder could be led to write anywhere,
// and the installed program would write a file no package owns.
bool programFolderHoldsSettings(const QString& folder) {
    const std::string path = QFile::encodeName(QFileInfo(folder).canonicalFilePath()).toStdString();
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || !isWritable(path, st))
        return false;
    if (path == "/usr" || path.starts_with("/usr/"))
        return false;
    struct stat file {};
    return ::lstat((path + "/lumira.ini").c_str(), &file) != 0 || !S_ISLNK(file.st_mode);
}

} // namespace

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
    const QString from = QFileInfo::exists(cfgfn) ? cfgfn : shippedFile();
    return readIniValue(section, key, QFile::encodeName(from).toStdString());
}

void prepareSettingsWrite(const QString& cfgfn) {
    const QString shipped = shippedFile();
    if (cfgfn == shipped || QFileInfo::exists(cfgfn))
        return;
    QDir().mkpath(QFileInfo(cfgfn).absolutePath());
    // Started whole, in one replacement, as a copy of the shipped file (or empty), readable by
    // its owner only; the save then changes it as any other.
    std::string shippedBytes;
    readRegularFile(QFile::encodeName(shipped).toStdString(), shippedBytes);
    replaceFile(QFile::encodeName(cfgfn).toStdString(), shippedBytes, nullptr, kOwnerOnly);
}

} // namespace lumira

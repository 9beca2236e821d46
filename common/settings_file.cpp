#include "common/settings_file.h"

#include "common/ini_sm.h"
#include "common/program_folder.h"
#include "common/safe_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace lumira {

namespace {

QString shippedFile() {
    return inProgramFolder(QStringLiteral("lumira.ini"));
}

bool isWritableFolder(const QString& folder) {
    const std::string path = QFile::encodeName(folder).toStdString();
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && isWritable(path, st);
}

} // namespace

QString settingsFileFor(const QString& programFolder, bool folderWritable,
                        const QString& xdgConfigHome, const QString& home) {
    if (folderWritable)
        return programFolder + QStringLiteral("/lumira.ini");
    const QString base =
        QDir::isAbsolutePath(xdgConfigHome) ? xdgConfigHome : home + QStringLiteral("/.config");
    return base + QStringLiteral("/lumira/lumira.ini");
}

QString settingsFile() {
    const QString folder = programFolder();
    return settingsFileFor(folder, isWritableFolder(folder),
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
    if (QFileInfo(shipped).isFile() && QFile::copy(shipped, cfgfn))
        QFile::setPermissions(cfgfn, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                         QFile::ReadOther);
}

} // namespace lumira

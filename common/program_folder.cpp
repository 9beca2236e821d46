#include "common/program_folder.h"

#include <QCoreApplication>

namespace lumira {

QString programFolder() {
    return QCoreApplication::applicationDirPath();
}

QString inProgramFolder(const QString& name) {
    return programFolder() + "/" + name;
}

} // namespace lumira

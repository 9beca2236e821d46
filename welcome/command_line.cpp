#include "welcome/command_line.h"

#include "common/program_folder.h"
#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

namespace lumira {

namespace {
constexpr int kAnswerMs = 2000;
} // namespace

bool askedForSettings(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--settings") == 0)
            return true;
    return false;
}

int requestSettings(int argc, char** argv) {
    QCoreApplication app(argc, argv); // for the program folder
    const QString folder = QFileInfo(programFolder()).canonicalFilePath();
    if (platform::SingleInstance::ask(folder, platform::SingleInstance::Request::OpenSettings,
                                      kAnswerMs))
        return 0;
    std::fprintf(stderr, "lumira: no running Lumira from %s answered; nothing to open\n",
                 qPrintable(folder));
    return 1;
}

} // namespace lumira

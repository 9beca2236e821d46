#include "welcome/command_line.h"

#include "common/program_folder.h"
#include "platform/single_instance.h"
#include "status/status_report.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

namespace lumira {

namespace {
constexpr int kAnswerMs = 2000;
} // namespace

bool askedFor(int argc, char** argv, const char* option) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return true;
    return false;
}

QString oneCopyKey() {
    return QFileInfo(programFolder()).canonicalFilePath();
}

int requestSettings(int argc, char** argv) {
    QCoreApplication app(argc, argv); // for the program folder
    const QString folder = oneCopyKey();
    if (platform::SingleInstance::ask(folder, platform::SingleInstance::Request::OpenSettings,
                                      kAnswerMs))
        return 0;
    std::fprintf(stderr, "lumira: no running Lumira from %s answered; nothing to open\n",
                 qPrintable(folder));
    return 1;
}

} // namespace lumira

namespace lumira {

int printStatus(int argc, char** argv) {
    QCoreApplication app(argc, argv); // for the program folder
    const QString folder = oneCopyKey();
    const auto report = platform::SingleInstance::askForReport(folder, kAnswerMs);
    if (!report || report->isEmpty()) {
        std::fprintf(stderr, "lumira: no running Lumira from %s answered\n", qPrintable(folder));
        return 1;
    }
    std::fwrite(report->constData(), 1, size_t(report->size()), stdout);
    return exitStatusOf(*report);
}

} // namespace lumira

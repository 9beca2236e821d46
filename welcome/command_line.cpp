#include "welcome/command_line.h"

#include "common/program_folder.h"
#include "platform/single_instance.h"
#include "status/address_rules.h"
#include "status/sign_watch.h"
#include "status/status_report.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

namespace lumira {

namespace {

using Request = platform::SingleInstance::Request;

constexpr int kAnswerMs = 2000;
// A command's reply: this byte alone when taken, or this one and the reason.
constexpr char kTaken = '0';
constexpr char kRefused = '2';

QByteArray refusal(const std::string& why) {
    return kRefused + QByteArray::fromStdString(why);
}

QByteArray replyTo(SignWatch::Outcome outcome) {
    return outcome == SignWatch::Outcome::Done ? QByteArray(1, kTaken)
                                               : refusal(whyNotDone(outcome));
}

int sendCommand(int argc, char** argv, Request request, const QByteArray& payload) {
    QCoreApplication app(argc, argv); // for the program folder
    const QString folder = oneCopyKey();
    const auto reply = platform::SingleInstance::askFor(folder, request, payload, kAnswerMs);
    if (!reply) {
        std::fprintf(stderr, "lumira: no running Lumira from %s answered\n", qPrintable(folder));
        return 1;
    }
    if (*reply == QByteArray(1, kTaken))
        return 0;
    const QByteArray why = reply->startsWith(kRefused)
                               ? reply->mid(1)
                               : "the running Lumira does not know this command; restart it";
    std::fprintf(stderr, "lumira: %s\n", why.constData());
    return 2;
}

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
    const auto report = platform::SingleInstance::askFor(folder, Request::Report, {}, kAnswerMs);
    if (!report || report->isEmpty()) {
        std::fprintf(stderr, "lumira: no running Lumira from %s answered\n", qPrintable(folder));
        return 1;
    }
    std::fwrite(report->constData(), 1, size_t(report->size()), stdout);
    return exitStatusOf(*report);
}

int requestReload(int argc, char** argv) {
    return sendCommand(argc, argv, Request::Reload, {});
}

int requestAddress(int argc, char** argv) {
    int at = 1;
    while (at < argc && std::strcmp(argv[at], "--address") != 0)
        ++at;
    if (at + 1 >= argc) {
        std::fputs("lumira: give the new address after --address\n", stderr);
        return 2;
    }
    return sendCommand(argc, argv, Request::TakeAddress, QByteArray(argv[at + 1]));
}

void answerCommands(platform::SingleInstance& instance, SignWatch& watch) {
    instance.setReply(Request::Reload,
                      [&watch](const QByteArray&) { return replyTo(watch.reload()); });
    // Checked before anything is written, as the status server checks: a refused address
    // leaves the file as it was.
    instance.setReply(Request::TakeAddress,
                      [&watch, folder = programFolder()](const QByteArray& sent) {
                          const QString address = QString::fromUtf8(sent);
                          if (address.toUtf8() != sent)
                              return refusal("the address is not UTF-8 text");
                          if (sent.isEmpty())
                              return refusal("the address is empty");
                          if (const auto refused = refusedAddress(address, folder))
                              return refusal(*refused);
                          return replyTo(watch.takeAddress(address));
                      });
}

} // namespace lumira

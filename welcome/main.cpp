#include "welcome/command_line.h"
#include "welcome/program_start.h"

#include <QApplication>

int main(int argc, char** argv) {
    // First: the address after it may be anything, another option's name too.
    if (lumira::askedFor(argc, argv, "--address"))
        return lumira::requestAddress(argc, argv);
    if (lumira::askedFor(argc, argv, "--settings"))
        return lumira::requestSettings(argc, argv);
    if (lumira::askedFor(argc, argv, "--status"))
        return lumira::printStatus(argc, argv);
    if (lumira::askedFor(argc, argv, "--reload"))
        return lumira::requestReload(argc, argv);
    if (!lumira::prepareProcess(argc, argv))
        return 1;
    QApplication app(argc, argv);
    return lumira::runProgram(app);
}

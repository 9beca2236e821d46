#include "welcome/command_line.h"
#include "welcome/program_start.h"

#include <QApplication>

int main(int argc, char** argv) {
    if (lumira::askedFor(argc, argv, "--settings"))
        return lumira::requestSettings(argc, argv);
    if (lumira::askedFor(argc, argv, "--status"))
        return lumira::printStatus(argc, argv);
    if (!lumira::prepareProcess(argc, argv))
        return 1;
    QApplication app(argc, argv);
    return lumira::runProgram(app);
}

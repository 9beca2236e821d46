#include "welcome/program_start.h"

#include <QApplication>

int main(int argc, char** argv) {
    if (!lumira::prepareProcess())
        return 1;
    QApplication app(argc, argv);
    return lumira::runProgram(app);
}

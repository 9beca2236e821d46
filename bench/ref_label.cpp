// The smallest Qt window program: what launching any Qt program here costs at least.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    // Same process set-up as the sign's program; a plain window asks for no shared OpenGL
    // context.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Reference"));
    label.setWindowTitle(QStringLiteral("Reference"));
    label.resize(200, 100);
    label.show();
    return app.exec();
}

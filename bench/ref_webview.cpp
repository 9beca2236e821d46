// The smallest Qt program that opens a page the way the sign's program did before it chose
// its drawing path: a button whose click opens a frameless browser window at (100,100),
// 320x240 or the size in argv[2] ("960x540"), showing the page in argv[1].
#include <QApplication>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <QWidget>
#include <cstdio>
#include <memory>
#include <unistd.h>

int main(int argc, char** argv) {
    // Same process set-up as the sign's program, which turns the engine's sandbox off as root.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: bench_ref_webview <page URL or file> [WIDTHxHEIGHT]\n", stderr);
        return 2;
    }
    const QUrl url = QUrl::fromUserInput(QString::fromLocal8Bit(argv[1]));
    QSize size(320, 240);
    if (argc > 2) {
        const QStringList parts = QString::fromLocal8Bit(argv[2]).split('x');
        if (parts.size() == 2)
            size = QSize(parts[0].toInt(), parts[1].toInt());
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Reference"));
    window.resize(200, 100);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* go = new QPushButton(QStringLiteral("go"), &window);
    go->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(go);

    std::unique_ptr<QWebEngineView> page; // goes before the application does
    QObject::connect(go, &QPushButton::clicked, [&] {
        if (page)
            return;
        page = std::make_unique<QWebEngineView>();
        page->setWindowFlags(Qt::FramelessWindowHint);
        page->setWindowTitle(QStringLiteral("ReferencePage"));
        page->setGeometry(QRect(QPoint(100, 100), size));
        page->load(url);
        page->show();
    });
    window.show();
    return app.exec();
}

// The end-to-end tests wait with the Qt event loop running (the loopback web server lives in
// the test process), so they need an application object.
#include <QGuiApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

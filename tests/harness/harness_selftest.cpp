// Checks that the end-to-end harness sees and drives the X server and serves HTTP correctly,
// so that an end-to-end failure points at the program rather than at the harness.
#include "http_server.h"
#include "program_runner.h"
#include "wait.h"
#include "x11_session.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace harness;

namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Asks the window manager to keep `window` above others, as an always-on-top program does.
void requestAbove(X11Session& x, xcb_window_t window) {
    auto intern = [&](const char* name) {
        auto* reply = xcb_intern_atom_reply(
            x.connection(), xcb_intern_atom(x.connection(), 0, std::strlen(name), name), nullptr);
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = intern("_NET_WM_STATE");
    event.data.data32[0] = 1; // add
    event.data.data32[1] = intern("_NET_WM_STATE_ABOVE");
    event.data.data32[3] = 2;
    xcb_send_event(x.connection(), 0, x.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<char*>(&event));
    x.sync();
}

} // namespace

TEST(X11SessionTest, FindsPlainWindowWithGeometryColourAndState) {
    X11Session x;
    const Rect rect{100, 120, 200, 150};
    const std::string title = "测试 窗口 plain";
    const xcb_window_t window = x.createPlainWindow(rect, 0x3366cc, title);

    EXPECT_EQ(x.waitForWindow(title, 2s), window);
    EXPECT_TRUE(x.findClientWindows("测试 窗口").empty()) << "titles must match exactly";
    EXPECT_EQ(x.windowTitle(window), title);
    EXPECT_EQ(x.rootGeometry(window), rect);
    EXPECT_TRUE(waitUntil([&] { return x.pixel(200, 195) == 0x3366cc; }, 2s));

    const std::string png = QDir::tempPath().toStdString() + "/harness-selftest.png";
    ASSERT_TRUE(x.savePng(png));
    EXPECT_EQ(QImage(QString::fromStdString(png)).pixel(200, 195) & 0xffffff, 0x3366ccu);
    std::remove(png.c_str());

    EXPECT_FALSE(contains(x.netWmState(window), "_NET_WM_STATE_ABOVE"));
    requestAbove(x, window);
    EXPECT_TRUE(
        waitUntil([&] { return contains(x.netWmState(window), "_NET_WM_STATE_ABOVE"); }, 2s));
    EXPECT_TRUE(waitUntil([&] { return x.stackingOrder().back() == window; }, 2s));

    x.destroyWindow(window);
    EXPECT_TRUE(x.waitForNoWindow(title, 2s));
}

// The window under test belongs to a second connection, as the program's windows would.
TEST(X11SessionTest, KeyboardMouseAndCloseReachForeignWindow) {
    X11Session x;
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    const xcb_window_t window = xcb_generate_id(other);
    const uint32_t mask[] = {XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS};
    xcb_create_window(other, XCB_COPY_FROM_PARENT, window, screen->root, 300, 300, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, mask);
    const std::string title = "keyboard target";
    xcb_change_property(other, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        title.size(), title.data());
    auto* protocols =
        xcb_intern_atom_reply(other, xcb_intern_atom(other, 0, 12, "WM_PROTOCOLS"), nullptr);
    auto* deleteWindow =
        xcb_intern_atom_reply(other, xcb_intern_atom(other, 0, 16, "WM_DELETE_WINDOW"), nullptr);
    xcb_change_property(other, XCB_PROP_MODE_REPLACE, window, protocols->atom, XCB_ATOM_ATOM, 32, 1,
                        &deleteWindow->atom);
    xcb_map_window(other, window);
    xcb_flush(other);

    ASSERT_EQ(x.waitForWindow(title, 2s), window);
    x.activate(window);
    ASSERT_TRUE(waitUntil([&] { return x.inputFocus() == window; }, 2s));
    EXPECT_TRUE(waitUntil([&] { return x.activeWindow() == window; }, 2s));

    x.typeText("aZ1");
    x.tap("F12");
    const Rect area = x.rootGeometry(window);
    x.click(area.x + 10, area.y + 5);
    x.closeWindow(window);
    EXPECT_THROW(x.tap("NoSuchKey"), std::invalid_argument);

    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(other);
    std::vector<xcb_keysym_t> typed;
    bool clicked = false, closeRequested = false;
    waitUntil(
        [&] {
            while (xcb_generic_event_t* event = xcb_poll_for_event(other)) {
                const int type = event->response_type & 0x7f;
                if (type == XCB_KEY_PRESS) {
                    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
                    const int column = (key->state & XCB_MOD_MASK_SHIFT) ? 1 : 0;
                    const xcb_keysym_t sym =
                        xcb_key_symbols_get_keysym(symbols, key->detail, column);
                    if (sym != 0xffe1) {
                        typed.push_back(sym);
                    }
                } else if (type == XCB_BUTTON_PRESS) {
                    auto* button = reinterpret_cast<xcb_button_press_event_t*>(event);
                    clicked = button->detail == 1 && button->event_x == 10 && button->event_y == 5;
                } else if (type == XCB_CLIENT_MESSAGE) {
                    auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                    closeRequested = message->data.data32[0] == deleteWindow->atom;
                }
                std::free(event);
            }
            // The window manager may replay the click only after the close request arrives.
            return closeRequested && clicked && typed.size() >= 4;
        },
        2s);
    EXPECT_EQ(typed, (std::vector<xcb_keysym_t>{'a', 'Z', '1', 0xffc9}));
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(closeRequested);

    xcb_key_symbols_free(symbols);
    std::free(protocols);
    std::free(deleteWindow);
    xcb_disconnect(other);
    EXPECT_TRUE(x.waitForNoWindow(title, 2s));
}

TEST(LoopbackHttpServerTest, AnswersConfiguredStatusAndRecordsPaths) {
    LoopbackHttpServer server;
    QNetworkAccessManager network;
    auto get = [&](const QString& path) {
        QNetworkReply* reply = network.get(QNetworkRequest(QUrl(server.url(path))));
        waitUntil([&] { return reply->isFinished(); }, 5s);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return std::make_pair(status, body);
    };

    server.setResponse(500, "down");
    EXPECT_EQ(get("/page?n=1"), std::make_pair(500, QByteArray("down")));
    server.setResponse(200, "<p>up</p>");
    EXPECT_EQ(get("page"), std::make_pair(200, QByteArray("<p>up</p>")));
    EXPECT_EQ(get("/favicon.ico").first, 404);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/page?n=1");
    EXPECT_EQ(requests[1].path, "/page");
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_LE(requests[0].msSinceStart, requests[1].msSinceStart);
    server.clearRequests();
    EXPECT_TRUE(server.requests().empty());
}

TEST(LoopbackHttpServerTest, RequestInPiecesAndRefusedPortThatComesBack) {
    LoopbackHttpServer server;
    server.setResponse(200, "hello", "text/plain");
    auto exchange = [&](const std::vector<QByteArray>& pieces) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        waitUntil(
            [&] {
                return socket.state() == QAbstractSocket::ConnectedState ||
                       socket.state() == QAbstractSocket::UnconnectedState;
            },
            2s);
        if (socket.state() != QAbstractSocket::ConnectedState) {
            return QByteArray("refused");
        }
        QByteArray answer;
        for (const QByteArray& piece : pieces) {
            socket.write(piece);
            pumpEventsFor(20ms);
        }
        waitUntil(
            [&] {
                answer += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            2s);
        return answer + socket.readAll();
    };

    const QByteArray answer =
        exchange({"GET /sl", "ow HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\n", "abc"});
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\n")) << answer.toStdString();
    EXPECT_TRUE(answer.contains("Content-Length: 5\r\n"));
    EXPECT_TRUE(answer.contains("Connection: close\r\n"));
    EXPECT_TRUE(answer.endsWith("\r\n\r\nhello"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/slow");

    server.stop();
    EXPECT_EQ(exchange({"GET / HTTP/1.1\r\n\r\n"}), "refused");
    ASSERT_TRUE(server.listenAgain());
    EXPECT_TRUE(exchange({"GET / HTTP/1.1\r\n\r\n"}).endsWith("hello"));
}

// A stand-in build folder whose "lumira" is a shell script reporting what it was given.
class ProgramRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString dir = build_.path();
        writeTo(dir + "/lumira", "#!/bin/sh\n"
                                 "here=$(dirname \"$0\")\n"
                                 "{ echo \"engine=$(env | grep -c '^QTWEBENGINE_')\";\n"
                                 "  echo \"extra=$LUMIRA_EXTRA\"; echo \"cwd=$(pwd)\"; }"
                                 " > \"$here/report.txt\"\n"
                                 "[ -n \"$LUMIRA_SLEEP\" ] && sleep \"$LUMIRA_SLEEP\"\n"
                                 "exit 3\n");
        QFile::setPermissions(dir + "/lumira", QFile::ReadOwner | QFile::ExeOwner);
        for (const char* name : {"start.htm", "Lumira帮助.txt", "logo.PNG", "CMakeCache.txt",
                                 "build.ninja", "lumira.ini"}) {
            writeTo(dir + "/" + name, name);
        }
        QDir(dir).mkdir("sub.htm");
    }
    static void writeTo(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QTemporaryDir build_;
};

TEST_F(ProgramRunnerTest, CopiesProgramFilesOnlyAndKeepsIniBytes) {
    std::string folder;
    {
        ProgramRunner runner(build_.path().toStdString(), "程序 目录");
        folder = runner.folder();
        EXPECT_TRUE(folder.ends_with("/程序 目录"));
        QStringList copied =
            QDir(QString::fromStdString(folder)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        copied.sort();
        EXPECT_EQ(copied, (QStringList{"Lumira帮助.txt", "logo.PNG", "lumira", "start.htm"}));
        EXPECT_FALSE(runner.iniExists());
        EXPECT_EQ(runner.readIni(), std::nullopt);

        const std::string bytes("[display]\r\nx=1\0\xff\n", 16);
        runner.writeIni(bytes);
        EXPECT_EQ(runner.readIni(), bytes);
        runner.removeFile("lumira.ini");
        EXPECT_FALSE(runner.iniExists());
        EXPECT_THROW(runner.writeFile("../escape.txt", "x"), std::invalid_argument);
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder))) << "folder left behind";
}

TEST_F(ProgramRunnerTest, StartsWithTestEnvironmentAndReportsExit) {
    ProgramRunner runner(build_.path().toStdString());
    runner.start({"LUMIRA_EXTRA=a=b"});
    ASSERT_TRUE(runner.waitForExit(5s));
    EXPECT_FALSE(runner.running());
    EXPECT_EQ(runner.exitCode(), 3);
    const std::string report = runner.readFile("report.txt").value_or("");
    EXPECT_NE(report.find("engine=0\n"), std::string::npos)
        << "no engine variable a user would not set: " << report;
    EXPECT_NE(report.find("extra=a=b\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("cwd=" + runner.folder() + "\n"), std::string::npos)
        << "the program must not run from its own folder, or a cwd-relative lookup would pass";

    runner.start({"LUMIRA_SLEEP=30"});
    EXPECT_FALSE(runner.waitForExit(100ms));
    EXPECT_EQ(runner.exitCode(), -1) << "a running program has no exit code";
    runner.terminate();
    ASSERT_TRUE(runner.waitForExit(5s));
    EXPECT_TRUE(runner.crashed());
    EXPECT_EQ(runner.exitCode(), -1) << "death by signal must not look like success";
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the server and runner need Qt's event dispatcher
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

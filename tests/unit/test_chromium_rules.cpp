// The engine choice and the Chromium module's rules that need no browser: the DevTools pipe's
// framing, failure reasons, the profile lock.
#include "display/chromium/devtools_framing.h"
#include "display/chromium/failure_reason.h"
#include "display/chromium/profile_lock.h"
#include "display/engine_choice.h"
#include "tests/table_case.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using lumira::chromium::PipeFraming;

// '|' stands for the NUL that ends a message.
QByteArray piece(const char* text) {
    return QByteArray(text).replace('|', '\0');
}

struct FramingCase : table::Case {
    std::vector<const char*> reads;
    std::vector<int> ids; // the "id" of each message taken, in order
    int bad;
};

class FramingTable : public testing::TestWithParam<FramingCase> {};

TEST_P(FramingTable, messagesEndAtTheirNul) {
    PipeFraming framing(16);
    std::vector<int> ids;
    for (const char* read : GetParam().reads)
        for (const QJsonObject& message : framing.take(piece(read)))
            ids.push_back(message[QStringLiteral("id")].toInt());
    EXPECT_EQ(ids, GetParam().ids);
    EXPECT_EQ(framing.badMessages(), GetParam().bad);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FramingTable,
    testing::Values(
        FramingCase{"one-read-one-message", {R"({"id":1}|)"}, {1}, 0},
        FramingCase{"split-across-reads", {R"({"i)", R"(d":)", "2}|"}, {2}, 0},
        FramingCase{"several-in-one-read", {R"({"id":1}|{"id":2}|{"id")", ":3}|"}, {1, 2, 3}, 0},
        FramingCase{"bad-json-and-non-objects-counted", {R"({"id":|[1]||{"id":4}|)"}, {4}, 3},
        FramingCase{"over-long-dropped-up-to-its-nul",
                    {R"({"id":1,"x":"12345)", R"(67890"})", R"(}|{"id":5}|)"},
                    {5},
                    1},
        FramingCase{"over-long-in-one-read", {R"({"id":1,"x":"123456"}|)"}, {}, 1},
        FramingCase{"sixteen-bytes-is-within-the-limit", {R"({"id":6,"x":)", R"("1"}|)"}, {6}, 0}),
    table::CaseName());

TEST(PipeFraming, aFramedNulInAStringComesBackWhole) {
    const QJsonObject message{{QStringLiteral("text"), QStringLiteral("a%1b").arg(QChar(0))}};
    const QByteArray framed = PipeFraming::frame(message);
    EXPECT_EQ(framed.indexOf('\0'), framed.size() - 1);
    EXPECT_EQ(PipeFraming().take(framed), std::vector<QJsonObject>{message});
}

TEST(FailureReason, engineNamesAsTheOtherModuleGivesThemAbortedIsNone) {
    using namespace lumira::chromium;
    EXPECT_EQ(navigateFailure("net::ERR_NAME_NOT_RESOLVED"), "net::ERR_NAME_NOT_RESOLVED");
    EXPECT_EQ(navigateFailure(" net::ERR_CERT_AUTHORITY_INVALID\n"),
              "net::ERR_CERT_AUTHORITY_INVALID");
    EXPECT_EQ(navigateFailure("net::ERR_ABORTED"), "");
    EXPECT_EQ(navigateFailure("net::ERR_HTTP_RESPONSE_CODE_FAILURE"), "HTTP error");
    EXPECT_EQ(navigateFailure("a\x1b[2Jb" + QString(200, u'x')), "a?[2Jb" + QString(94, u'x'))
        << "control characters and length kept out of the report";
    EXPECT_EQ(statusFailure(399), "");
    EXPECT_EQ(statusFailure(400), "HTTP 400");
    EXPECT_EQ(loadingFailure("net::ERR_CONNECTION_REFUSED", false), "net::ERR_CONNECTION_REFUSED");
    EXPECT_EQ(loadingFailure("net::ERR_CONNECTION_RESET", true), "");
    EXPECT_EQ(loadingFailure("net::ERR_ABORTED", false), "");
    EXPECT_EQ(loadingFailure("", false), "load failed");
}

struct EngineCase : table::Case {
    const char* option;
    const char* chromium;
    lumira::EngineKind kind;
    bool warned;
};

class EngineTable : public testing::TestWithParam<EngineCase> {};

TEST_P(EngineTable, chosenFromTheOptionAndWhatIsInstalled) {
    const auto& row = GetParam();
    const lumira::EngineChoice choice = lumira::chooseEngine(row.option, row.chromium);
    EXPECT_EQ(choice.kind, row.kind);
    EXPECT_EQ(choice.chromium, row.kind == lumira::EngineKind::Chromium ? row.chromium : "");
    EXPECT_EQ(!choice.warning.empty(), row.warned) << choice.warning;
}

constexpr auto kQt = lumira::EngineKind::QtWebEngine;
constexpr auto kChromium = lumira::EngineKind::Chromium;
INSTANTIATE_TEST_SUITE_P(
    Table, EngineTable,
    testing::Values(EngineCase{"auto-with-chromium", "auto", "/c", kChromium, false},
                    EngineCase{"auto-without-chromium", "auto", "", kQt, false},
                    EngineCase{"blank-is-auto", " ", "/c", kChromium, false},
                    EngineCase{"chromium-missing-warns", "chromium", "", kQt, true},
                    EngineCase{"chromium-any-case", " ChRomium ", "/c", kChromium, false},
                    EngineCase{"qtwebengine-though-chromium-is-there", "QtWebEngine", "/c", kQt,
                               false},
                    EngineCase{"unknown-is-auto-with-a-warning", "firefox", "/c", kChromium, true}),
    table::CaseName());

TEST(FindChromium, fixedPathThenAbsolutePathFoldersResolvedUnlessAScript) {
    namespace fs = std::filesystem;
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString(), missing = d + "/missing";
    // A file, and a link to it named chromium in the folder `link`.
    const auto place = [&](const std::string& file, const char* text, const std::string& link) {
        fs::create_directories(fs::path(d + file).parent_path());
        std::ofstream(d + file) << text;
        fs::permissions(d + file, fs::perms::owner_all);
        fs::create_directories(d + link);
        fs::create_symlink(d + file, d + link + "/chromium");
    };
    place("/lib/chromium", "bin", "/bin");
    place("/plain/chromium", "data", "/pbin");
    fs::permissions(d + "/plain/chromium", fs::perms::owner_read);
    place("/wrap/chromium.sh", "#!/bin/sh\n", "/sbin");
    place("/multi/box", "bin", "/mbin");
    EXPECT_EQ(lumira::findChromium("", d + "/lib/chromium"), d + "/lib/chromium");
    EXPECT_EQ(lumira::findChromium(d + "/pbin:" + d + "/bin", d + "/plain/chromium"),
              d + "/lib/chromium")
        << "files that may not be run are passed over; the link is resolved";
    EXPECT_EQ(lumira::findChromium(d + "/none:" + d + "/sbin", missing), d + "/sbin/chromium");
    EXPECT_EQ(lumira::findChromium(d + "/mbin", missing), d + "/mbin/chromium")
        << "a program of another name may act on the name it is called by";
    const fs::path before = fs::current_path();
    fs::current_path(d + "/lib");
    EXPECT_EQ(lumira::findChromium("::.", missing), "")
        << "empty and relative elements never find the current folder's file";
    fs::current_path(before);
}

TEST(ProfileLock, judgedByHostAndProcess) {
    using lumira::chromium::LockState;
    const auto judge = [](const std::string& target, const std::string& host) {
        return lumira::chromium::judgeProfileLock(target, host, [](long pid) { return pid == 42; });
    };
    EXPECT_EQ(judge("", "sign-1"), LockState::Free);
    EXPECT_EQ(judge("sign-1-42", "sign-1"), LockState::Held);
    EXPECT_EQ(judge("sign-1-43", "sign-1"), LockState::Stale);
    EXPECT_EQ(judge("sign-2-43", "sign-1"), LockState::Held) << "another host's lock";
    EXPECT_EQ(judge("sign-1-x", "sign-1"), LockState::Stale) << "no Chromium here writes that";
    EXPECT_EQ(judge("sign-1--42", "sign-1"), LockState::Held) << "\"sign-1-\" is another host";
    EXPECT_EQ(judge("sign-1-0", "sign-1"), LockState::Stale);
    EXPECT_EQ(judge("garbage", "sign-1"), LockState::Held);
    EXPECT_EQ(judge("sign-1-43", ""), LockState::Held) << "this host's name unknown";
}

TEST(ProfileLock, staleLinksRemovedOtherHostsKept) {
    QTemporaryDir dir;
    namespace fs = std::filesystem;
    const fs::path p = dir.path().toStdString();
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_TRUE(lumira::chromium::clearStaleProfileLock(dir.path())) << "no lock";
    fs::create_symlink(std::string(host) + ".elsewhere-1", p / "SingletonLock");
    EXPECT_FALSE(lumira::chromium::clearStaleProfileLock(dir.path()));
    EXPECT_TRUE(fs::is_symlink(p / "SingletonLock"));
    fs::remove(p / "SingletonLock");
    // This process runs but is no Chromium: its id was taken again after a Chromium ended.
    fs::create_symlink(std::string(host) + "-" + std::to_string(::getpid()), p / "SingletonLock");
    fs::create_symlink("/tmp/nowhere/SingletonSocket", p / "SingletonSocket");
    fs::create_symlink("123", p / "SingletonCookie");
    EXPECT_TRUE(lumira::chromium::clearStaleProfileLock(dir.path()));
    for (const char* name : {"SingletonLock", "SingletonSocket", "SingletonCookie"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(p / name))) << name;
}

TEST(ProfileLock, profileFolderMadePrivateUnderAnAbsoluteCacheHome) {
    QTemporaryDir dir;
    namespace fs = std::filesystem;
    ::setenv("XDG_CACHE_HOME", (dir.path() + "/cache").toUtf8().constData(), 1);
    const QString folder = lumira::chromium::profileFolder(QStringLiteral("/opt/sign"));
    ::unsetenv("XDG_CACHE_HOME");
    ASSERT_EQ(folder, dir.path() + "/cache/lumira/chromium-1e74a4da637cd548");
    EXPECT_EQ(fs::status(folder.toStdString()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status((dir.path() + "/cache").toStdString()).permissions(),
              fs::perms::owner_all);
}

} // namespace

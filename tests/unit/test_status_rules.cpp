// The status server's rules without a network: where it listens, who may ask what, the state
// the report gives, and the report's two formats.
#include "status/address_rules.h"
#include "status/sign_state.h"
#include "status/status_access.h"
#include "status/status_report.h"
#include "tests/table_case.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

using lumira::Admission;

const std::string kToken = "0123456789abcdef"; // 16 characters: the least that counts

struct ListenRow : table::Case {
    const char* status;
    std::string token;
    bool enabled;
    const char* host;
    int port;
    bool warns;
};

class Listening : public testing::TestWithParam<ListenRow> {};

TEST_P(Listening, asWrittenOrOnTheLoopbackOrNowhere) {
    const ListenRow& row = GetParam();
    const lumira::ListenPlan plan = lumira::planListening(row.status, row.token);
    EXPECT_EQ(plan.enabled, row.enabled);
    EXPECT_EQ(!plan.warning.empty(), row.warns) << plan.warning;
    if (row.enabled) {
        EXPECT_EQ(plan.host, row.host);
        EXPECT_EQ(plan.port, row.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, Listening,
    testing::Values(
        ListenRow{{"empty-is-off"}, "", "", false, "", 0, false},
        ListenRow{{"blanks-are-off"}, " \t", kToken, false, "", 0, false},
        ListenRow{{"port-alone-is-the-loopback"}, "8750", "", true, "127.0.0.1", 8750, false},
        ListenRow{
            {"any-address-with-a-token"}, "0.0.0.0:8750", kToken, true, "0.0.0.0", 8750, false},
        ListenRow{{"any-address-without-a-token-falls-back"},
                  "0.0.0.0:8750",
                  "",
                  true,
                  "127.0.0.1",
                  8750,
                  true},
        ListenRow{{"a-short-token-is-no-token"},
                  "192.168.1.5:8750",
                  "0123456789abcde",
                  true,
                  "127.0.0.1",
                  8750,
                  true},
        ListenRow{{"sixteen-chinese-characters-count"},
                  "10.0.0.2:80",
                  "一二三四五六七八九十一二三四五六",
                  true,
                  "10.0.0.2",
                  80,
                  false},
        ListenRow{
            {"loopback-needs-no-token"}, "127.0.0.1:9000", "", true, "127.0.0.1", 9000, false},
        ListenRow{
            {"localhost-is-the-loopback"}, "localhost:9000", "", true, "127.0.0.1", 9000, false},
        ListenRow{{"ipv6-in-brackets"}, "[::]:8750", kToken, true, "::", 8750, false},
        ListenRow{
            {"ipv6-without-brackets-is-not-understood"}, "::1:8750", kToken, false, "", 0, true},
        ListenRow{{"port-zero"}, "0", "", false, "", 0, true},
        ListenRow{{"port-too-large"}, "65536", "", false, "", 0, true},
        ListenRow{{"a-name-is-not-an-address"}, "sign.local:8750", kToken, false, "", 0, true},
        ListenRow{{"words"}, "on", "", false, "", 0, true},
        ListenRow{{"port-with-junk"}, "8750x", "", false, "", 0, true}),
    table::CaseName());

struct AskRow : table::Case {
    bool loopbackPeer;
    const char* host;
    const char* authorization;
    bool command;
    std::string token;
    Admission expected;
};

class Asking : public testing::TestWithParam<AskRow> {};

TEST_P(Asking, theLoopbackReadsTheTokenCommands) {
    const AskRow& row = GetParam();
    const lumira::Asker asker{row.loopbackPeer, row.host, row.authorization, row.command};
    EXPECT_EQ(lumira::admit(asker, 8750, row.token), row.expected);
}

// "user:0123456789abcdef" and "user:wrong" in base64.
const char kBasicRight[] = "Basic dXNlcjowMTIzNDU2Nzg5YWJjZGVm";
const char kBasicWrong[] = "Basic dXNlcjp3cm9uZw==";
const char kBearer[] = "Bearer 0123456789abcdef";

INSTANTIATE_TEST_SUITE_P(
    Requests, Asking,
    testing::Values(
        AskRow{
            {"loopback-reads-freely"}, true, "127.0.0.1:8750", "", false, "", Admission::Allowed},
        AskRow{
            {"localhost-any-case"}, true, "LocalHost:8750", "", false, kToken, Admission::Allowed},
        AskRow{{"ipv6-loopback-name"}, true, "[::1]:8750", "", false, "", Admission::Allowed},
        AskRow{{"a-rebound-name-is-refused"},
               true,
               "evil.example:8750",
               "",
               false,
               kToken,
               Admission::WrongHost},
        AskRow{{"another-port-is-refused"},
               true,
               "127.0.0.1:8751",
               "",
               false,
               "",
               Admission::WrongHost},
        AskRow{{"no-host-is-refused"}, true, "", "", false, "", Admission::WrongHost},
        AskRow{{"a-rebound-name-cannot-command-either"},
               true,
               "evil.example:8750",
               kBearer,
               true,
               kToken,
               Admission::WrongHost},
        AskRow{{"command-without-a-token-set"},
               true,
               "127.0.0.1:8750",
               kBearer,
               true,
               "",
               Admission::NoToken},
        AskRow{{"command-without-the-token"},
               true,
               "127.0.0.1:8750",
               "",
               true,
               kToken,
               Admission::NeedsAuth},
        AskRow{{"command-with-the-bearer-token"},
               true,
               "127.0.0.1:8750",
               kBearer,
               true,
               kToken,
               Admission::Allowed},
        AskRow{{"command-with-basic-is-not-enough"},
               true,
               "127.0.0.1:8750",
               kBasicRight,
               true,
               kToken,
               Admission::NeedsAuth},
        AskRow{{"command-with-a-longer-token"},
               true,
               "127.0.0.1:8750",
               "Bearer 0123456789abcdefX",
               true,
               kToken,
               Admission::NeedsAuth},
        AskRow{{"remote-read-without-the-token"},
               false,
               "sign:8750",
               "",
               false,
               kToken,
               Admission::NeedsAuth},
        AskRow{{"remote-read-with-basic"},
               false,
               "sign:8750",
               kBasicRight,
               false,
               kToken,
               Admission::Allowed},
        AskRow{{"remote-read-with-a-wrong-password"},
               false,
               "sign:8750",
               kBasicWrong,
               false,
               kToken,
               Admission::NeedsAuth},
        AskRow{{"remote-read-with-bearer-any-case"},
               false,
               "10.0.0.2:8750",
               "bearer 0123456789abcdef",
               false,
               kToken,
               Admission::Allowed},
        AskRow{{"remote-read-with-no-token-set"},
               false,
               "sign:8750",
               kBearer,
               false,
               "",
               Admission::NeedsAuth},
        AskRow{{"remote-basic-not-base64"},
               false,
               "sign:8750",
               "Basic ***",
               false,
               kToken,
               Admission::NeedsAuth}),
    table::CaseName());

TEST(StatusAccess, peersAndSecrets) {
    for (const char* ip : {"127.0.0.1", "127.1.2.3", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(lumira::loopbackAddress(ip)) << ip;
    for (const char* ip : {"10.0.0.1", "::ffff:10.0.0.1", "::", "", "localhost", "128.0.0.1"})
        EXPECT_FALSE(lumira::loopbackAddress(ip)) << ip;
    EXPECT_TRUE(lumira::sameSecret(kToken, kToken));
    EXPECT_FALSE(lumira::sameSecret(kToken, kToken + "x"));
    EXPECT_FALSE(lumira::sameSecret(kToken, ""));
}

// A new address over the server: a web address that reads back from lumira.ini as it was sent.
TEST(StatusAccess, onlyWebAddressesThatReadBackAsSent) {
    QTemporaryDir folder;
    QFile start(folder.filePath("start.htm")); // a relative name of a local file
    ASSERT_TRUE(start.open(QIODevice::WriteOnly));
    for (const char* refused :
         {"file:///etc/shadow", "/etc/shadow", "start.htm", "javascript:alert(1)",
          "data:text/html,x", "view-source:http://x", "chrome://gpu", "about:blank", "http://",
          "   ", " http://example.cn/", "'http://example.cn/'"})
        EXPECT_TRUE(lumira::refusedAddress(refused, folder.path())) << refused;
    for (const char* taken : {"www.example.cn/led.htm", "https://example.cn/a?b=\"1\"#top"})
        EXPECT_EQ(lumira::refusedAddress(taken, folder.path()), std::nullopt) << taken;
}

// What a reader without the token sees of the saved address, and who sees the whole.
TEST(StatusAccess, theAddressWithoutItsSecrets) {
    EXPECT_EQ(lumira::addressWithoutSecrets("http://u:p@sign.example:8080/a.htm?key=1#top", "/"),
              "http://sign.example:8080/a.htm");
    EXPECT_EQ(lumira::addressWithoutSecrets("www.example.cn/led.htm?token=9", "/"),
              "http://www.example.cn/led.htm");
    EXPECT_TRUE(lumira::readsWholeAddress(kBasicRight, kToken));
    EXPECT_TRUE(lumira::readsWholeAddress(kBearer, kToken));
    EXPECT_FALSE(lumira::readsWholeAddress("", kToken)) << "a token set must be shown";
    EXPECT_FALSE(lumira::readsWholeAddress(kBearer, "")) << "no token set: nobody over HTTP";
}

QDateTime at(int minute) {
    return QDateTime(QDate(2026, 12, 8), QTime(6, minute), QTimeZone(8 * 3600));
}

TEST(SignState, followsTheSignAndCountsWhatWentWrong) {
    lumira::SignState state(at(0));
    using Name = lumira::SignStateName;
    EXPECT_EQ(state.history().state, Name::Starting);

    state.failed(at(1), "connection refused");
    state.failed(at(2), "HTTP 500");
    EXPECT_EQ(state.history().state, Name::Retrying);
    EXPECT_EQ(state.history().since, at(1)) << "since the first failure of the run";
    EXPECT_EQ(state.history().failuresTotal, 2);
    EXPECT_EQ(state.history().lastFailureReason, "HTTP 500");
    EXPECT_EQ(state.history().lastFailure, at(2));

    state.shown(at(3));
    state.shown(at(4)); // a reload that showed
    EXPECT_EQ(state.history().state, Name::Showing);
    EXPECT_EQ(state.history().since, at(3));
    EXPECT_EQ(state.history().lastSuccess, at(4));

    state.darkChanged(at(5), true);
    state.failed(at(6), "aborted"); // the page unloaded on purpose
    EXPECT_EQ(state.history().state, Name::Dark);
    EXPECT_EQ(state.history().failuresTotal, 2);
    state.darkChanged(at(7), false);
    EXPECT_EQ(state.history().state, Name::Starting);
    EXPECT_EQ(state.history().since, at(7));

    for (const char* why : {"crash", "hang", "memory", "memory"})
        state.rendererRestarted(why);
    EXPECT_EQ(state.history().crashes, 1);
    EXPECT_EQ(state.history().hangs, 1);
    EXPECT_EQ(state.history().memory, 2);
}

lumira::SignReport showingReport() {
    lumira::SignReport report;
    report.version = "1.0.0";
    report.folder = "/opt/标志";
    report.address = "http://example.test/\"quoted\"";
    lumira::SignState state(at(0));
    state.failed(at(1), "HTTP 503");
    state.shown(at(2));
    report.history = state.history();
    report.configured = QRect(100, 100, 320, 240);
    report.actual = QRect(100, 100, 320, 240);
    report.above = true;
    report.uptimeSeconds = 125;
    report.programMiB = 180.25;
    report.rendererMiB = 95;
    return report;
}

TEST(StatusReport, jsonCarriesEveryFactInItsOwnType) {
    const QJsonObject json = QJsonDocument::fromJson(reportJson(showingReport())).object();
    EXPECT_EQ(json["state"].toString(), "showing");
    EXPECT_EQ(json["since"].toString(), "2026-12-08T06:02:00.000+08:00");
    EXPECT_EQ(json["address"].toString(), "http://example.test/\"quoted\"");
    EXPECT_EQ(json["folder"].toString(), "/opt/标志");
    EXPECT_EQ(json["last_failure"].toObject()["reason"].toString(), "HTTP 503");
    EXPECT_EQ(json["failures_total"].toInt(), 1);
    EXPECT_EQ(json["rect"].toObject()["actual"].toObject()["w"].toInt(), 320);
    EXPECT_EQ(json["memory_mib"].toObject()["program"].toDouble(), 180.3);
    EXPECT_EQ(lumira::exitStatusOf(reportJson(showingReport())), 0);

    lumira::SignReport starting;
    const QJsonObject fresh = QJsonDocument::fromJson(reportJson(starting)).object();
    EXPECT_TRUE(fresh["last_success"].isNull());
    EXPECT_TRUE(fresh["last_failure"].isNull());
    EXPECT_TRUE(fresh["rect"].toObject()["configured"].isNull());

    lumira::SignReport failing = showingReport();
    lumira::SignState state(at(0));
    state.failed(at(1), "load timeout");
    failing.history = state.history();
    EXPECT_EQ(lumira::exitStatusOf(reportJson(failing)), 2);
    EXPECT_EQ(lumira::exitStatusOf("not json"), 1);
    EXPECT_EQ(lumira::exitStatusOf("{\"state\":\"exploded\"}"), 1);
}

TEST(StatusReport, metricsAreScrapeable) {
    lumira::SignReport report = showingReport();
    const QByteArray text = reportMetrics(report);
    for (const char* line :
         {"lumira_up 1\n", "lumira_state{state=\"showing\"} 1\n",
          "lumira_state{state=\"retrying\"} 0\n", "lumira_load_failures_total 1\n",
          "lumira_renderer_restarts_total{reason=\"memory\"} 0\n",
          "lumira_last_success_timestamp_seconds 1796680920\n",
          "lumira_resident_memory_bytes{process=\"renderer\"} 99614720\n",
          "lumira_window_placed 1\n", "# TYPE lumira_load_failures_total counter\n"})
        EXPECT_TRUE(text.contains(line)) << line << "\n" << text.constData();
    // Every sample line is a name, optional labels and a number.
    for (const QByteArray& line : text.split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#')) {
            EXPECT_EQ(line.split(' ').size(), 2) << line.constData();
        }
    }

    report.actual = QRect(100, 100, 320, 200);
    EXPECT_TRUE(reportMetrics(report).contains("lumira_window_placed 0\n"));
    report.actual = report.configured;
    report.above = false;
    EXPECT_TRUE(reportMetrics(report).contains("lumira_window_placed 0\n"));
}

} // namespace

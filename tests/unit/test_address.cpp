// Addresses from lumira.ini and the address box, read as a browser's address bar reads them.
#include "common/address.h"
#include "tests/table_case.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct AddressCase : table::Case {
    const char* address;
    const char* expected; // "@" stands for the program folder; "" for no usable address
};

class Address : public testing::TestWithParam<AddressCase> {};

TEST_P(Address, becomesTheUrlABrowserWouldLoad) {
    QTemporaryDir folder;
    QDir(folder.path()).mkdir(QStringLiteral("pages"));
    for (const char* name : {"start.htm", "pages/a.htm"}) {
        QFile file(folder.filePath(QString::fromUtf8(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QUrl url = lumira::addressToUrl(QString::fromUtf8(GetParam().address), folder.path());
    QString expected = QString::fromUtf8(GetParam().expected);
    expected.replace('@', folder.path());
    EXPECT_EQ(url.isValid() ? url.toString() : QString(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Address,
    testing::Values(
        AddressCase{"web-address-as-it-is", "https://example.cn/led.htm?x=1",
                    "https://example.cn/led.htm?x=1"},
        AddressCase{"host-without-scheme-is-http", "www.example.cn/led.htm",
                    "http://www.example.cn/led.htm"},
        AddressCase{"ip-and-port-without-scheme", "192.168.1.9:8080/led.htm",
                    "http://192.168.1.9:8080/led.htm"},
        AddressCase{"name-and-port-is-not-a-scheme", "localhost:8080", "http://localhost:8080"},
        AddressCase{"name-port-and-query", "sign.local:8080?id=3", "http://sign.local:8080?id=3"},
        AddressCase{"name-port-and-fragment", "localhost:8080#top", "http://localhost:8080#top"},
        AddressCase{"file-in-program-folder", "start.htm", "file://@/start.htm"},
        AddressCase{"file-in-sub-folder", "pages/a.htm", "file://@/pages/a.htm"},
        AddressCase{"absolute-path", "/srv/看板.htm", "file:///srv/看板.htm"},
        AddressCase{"missing-name-is-a-web-address", "sign.example.cn", "http://sign.example.cn"},
        AddressCase{"other-schemes-as-they-are", "about:blank", "about:blank"},
        AddressCase{"file-url", "file:///tmp/a b.htm", "file:///tmp/a b.htm"},
        AddressCase{"blanks-around-are-not-part", "  start.htm ", "file://@/start.htm"},
        AddressCase{"blanks-only-is-no-address", "   ", ""}),
    table::CaseName());

} // namespace

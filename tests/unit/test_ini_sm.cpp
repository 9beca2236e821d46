#include "common/ini_sm.h"
#include "common/safe_file.h"
#include "common/text_encoding.h"
#include "tests/table_case.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iconv.h>
#include <ostream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Converts with iconv directly, independent of the code under test.
std::string fromUtf8(const char* encoding, const std::string& utf8) {
    iconv_t cd = iconv_open(encoding, "UTF-8");
    std::string out(utf8.size() * 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* o = out.data();
    size_t inLeft = utf8.size(), outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), size_t(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string toGb18030(const std::string& utf8) {
    return fromUtf8("GB18030", utf8);
}
// "Unicode" as Windows editors save it: a byte-order mark, then UTF-16.
std::string utf16le(const std::string& utf8) {
    return "\xFF\xFE" + fromUtf8("UTF-16LE", utf8);
}
std::string utf16be(const std::string& utf8) {
    return "\xFE\xFF" + fromUtf8("UTF-16BE", utf8);
}

const std::string kChinese = "\xE5\x8C\x97\xE4\xBA\xAC\xE5\xB8\x82"; // 北京市, 3 bytes each

class IniFile : public testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = fs::temp_directory_path() / "ini_sm_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        path = (dir / "lumira.ini").string();
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        lumira::detail::beforeReplaceHook = nullptr;
        fs::remove_all(dir);
    }
    void put(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string bytes() const {
        std::ostringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    size_t fileCount() const {
        return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }
    fs::path dir;
    std::string path;
};

// --- reading ---------------------------------------------------------------------------------

struct ReadCase : table::Case {
    std::string content, section, key, expected;
};

class IniRead : public IniFile, public testing::WithParamInterface<ReadCase> {};

TEST_P(IniRead, ReturnsStoredValue) {
    put(GetParam().content);
    EXPECT_EQ(readIniValue(GetParam().section, GetParam().key, path), GetParam().expected);
}

const std::string kLong(40000, 'x');
const std::string kLongChinese = [] {
    std::string s;
    while (s.size() < 33000)
        s += kChinese;
    return s;
}();

const std::string kLongEmoji = [] {
    std::string s;
    while (s.size() < 33000)
        s += "😀";
    return s;
}();

const ReadCase kReadCases[] = {
    {"section-missing", "[Other]\r\nwLeft=1\r\n", "Main", "wLeft", ""},
    {"key-missing", "[Main]\r\nwTop=1\r\n", "Main", "wLeft", ""},
    {"empty-value", "[Main]\r\nwLeft=\r\n", "Main", "wLeft", ""},
    {"blanks-around-value", "[Main]\r\nwLeft= 250 \r\n", "Main", "wLeft", "250"},
    {"blanks-around-key", "[Main]\r\n \twLeft\t =250\r\n", "Main", "wLeft", "250"},
    {"inner-blanks-kept", "[Main]\r\nName= a  b \r\n", "Main", "Name", "a  b"},
    {"double-quotes", "[Main]\r\nName= \" a b \" \r\n", "Main", "Name", " a b "},
    {"single-quotes", "[Main]\r\nName='x'\r\n", "Main", "Name", "x"},
    {"unmatched-quotes", "[Main]\r\nName=\"x'\r\n", "Main", "Name", "\"x'"},
    {"quote-only-at-start", "[Main]\r\nName=\"x\r\n", "Main", "Name", "\"x"},
    {"lone-quote", "[Main]\r\nName=\"\r\n", "Main", "Name", "\""},
    {"inner-quotes-kept", "[Main]\r\nName=a\"b\"\r\n", "Main", "Name", "a\"b\""},
    {"key-case-insensitive", "[Main]\r\nwLeft=5\r\n", "Main", "WLEFT", "5"},
    {"section-case-insensitive", "[main]\r\nwLeft=5\r\n", "MAIN", "wLeft", "5"},
    {"section-with-blanks", "  [ Main ]  \r\nwLeft=5\r\n", "Main", "wLeft", "5"},
    {"comment-is-not-a-key", "[Main]\r\n;wLeft=1\r\n wLeft=2\r\n", "Main", "wLeft", "2"},
    {"line-without-equals-is-that-key-empty", "[Main]\r\nwLeft\r\nwLeft=3\r\n", "Main", "wLeft",
     ""},
    {"first-duplicate-key-wins", "[Main]\r\nwLeft=1\r\nwLeft=2\r\n", "Main", "wLeft", "1"},
    {"first-duplicate-section-wins", "[Main]\r\nk=1\r\n[Main]\r\nk=2\r\n", "Main", "k", "1"},
    {"key-before-any-section-ignored", "wLeft=1\r\n[Main]\r\n", "Main", "wLeft", ""},
    {"key-of-next-section-not-seen", "[Main]\r\n[Other]\r\nk=1\r\n", "Main", "k", ""},
    {"equals-inside-value", "[Main]\r\nURL=http://a/?b=c\r\n", "Main", "URL", "http://a/?b=c"},
    {"no-final-line-end", "[Main]\r\nwLeft=7", "Main", "wLeft", "7"},
    {"lf-lines", "[Main]\nwTop=1\nwLeft=7\n", "Main", "wLeft", "7"},
    {"lone-cr-lines", "[Main]\rwTop=1\rwLeft=7\r", "Main", "wLeft", "7"},
    {"bom-not-part-of-first-line", "\xEF\xBB\xBF[Main]\r\nk=1\r\n", "Main", "k", "1"},
    {"chinese-utf8", "[Main]\r\nAddress=" + kChinese + "\r\n", "Main", "Address", kChinese},
    {"chinese-gb18030", toGb18030("[地址]\r\n名称=" + kChinese + "\r\n"), "地址", "名称", kChinese},
    {"gb18030-four-byte-char", toGb18030("[Main]\r\nk=€😀\r\n"), "Main", "k", "€😀"},
    {"utf16le-with-mark", utf16le("[Main]\r\nURL=" + kChinese + "😀\r\n"), "Main", "URL",
     kChinese + "😀"},
    {"utf16be-with-mark", utf16be("[主]\r\nk= 1 \r\n"), "主", "k", "1"},
    {"value-ends-at-nul", std::string("[Main]\r\nk=ab\0cd\r\n", 15), "Main", "k", "ab"},
    {"empty-key-name", "[Main]\r\n=1\r\n", "Main", "", ""},
    {"exactly-32767-bytes-kept", "[Main]\r\nk=" + kLong.substr(0, 32767), "Main", "k",
     kLong.substr(0, 32767)},
    {"long-value-cut-to-32767", "[Main]\r\nk=" + kLong + "\r\n", "Main", "k",
     kLong.substr(0, 32767)},
    {"quoted-long-value-cut-after-quotes", "[Main]\r\nk=\"" + kLong + "\"", "Main", "k",
     kLong.substr(0, 32767)},
    // 32767 = 3 * 10922 + 1: the cut falls inside a UTF-8 character and moves back to 32766.
    {"utf8-cut-keeps-whole-chars", "[Main]\r\nk=" + kLongChinese, "Main", "k",
     kLongChinese.substr(0, 32766)},
    // Two bytes per character in GB18030: 16383 characters fit, i.e. 49149 bytes of UTF-8.
    {"gb18030-cut-keeps-whole-chars", toGb18030("[Main]\r\nk=" + kLongChinese), "Main", "k",
     kLongChinese.substr(0, 16383 * 3)},
    // Four bytes per emoji in both encodings: 8191 whole emoji fit (32764 bytes).
    {"gb18030-cut-keeps-four-byte-chars", toGb18030("[Main]\r\nk=" + kLongEmoji), "Main", "k",
     kLongEmoji.substr(0, 8191 * 4)},
};

INSTANTIATE_TEST_SUITE_P(Table, IniRead, testing::ValuesIn(kReadCases), table::CaseName());

TEST_F(IniFile, ReadOfMissingFileOrFolderIsEmpty) {
    EXPECT_EQ(readIniValue("Main", "wLeft", path), "");
    EXPECT_EQ(readIniValue("Main", "wLeft", dir.string()), "");
    writeIniValue("Main", "wLeft", "1", dir.string());
    EXPECT_TRUE(fs::is_directory(dir));
}

TEST_F(IniFile, FifoIsNeitherWaitedForNorWritten) {
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readIniValue("Main", "wLeft", path), "");
    writeIniValue("Main", "wLeft", "1", path);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(fs::is_fifo(path));
    EXPECT_EQ(fileCount(), 1u);
}

// --- writing ---------------------------------------------------------------------------------

TEST_F(IniFile, NewFileGetsSectionThenKeysInWriteOrder) {
    for (const char* key : {"wTop", "wLeft", "wWidth", "wHeight"})
        writeIniValue("Main", key, "100", path);
    writeIniValue("Main", "URL", "http://x/" + kChinese, path);
    EXPECT_EQ(bytes(),
              "[Main]\r\nwTop=100\r\nwLeft=100\r\nwWidth=100\r\nwHeight=100\r\nURL=http://x/" +
                  kChinese + "\r\n");
    EXPECT_EQ(readIniValue("main", "url", path), "http://x/" + kChinese);
}

struct WriteCase : table::Case {
    std::string before, section, key, value, after;
};

class IniWrite : public IniFile, public testing::WithParamInterface<WriteCase> {};

TEST_P(IniWrite, ChangesOnlyTheKeyLine) {
    put(GetParam().before);
    writeIniValue(GetParam().section, GetParam().key, GetParam().value, path);
    EXPECT_EQ(bytes(), GetParam().after);
}

const std::string kLayout =
    "; lumira\r\n[Main]\r\nwTop = 1 ; x\r\n\r\n  WLEFT\t=\t2\r\n[Net]\nURL=u\n";

const WriteCase kWriteCases[] = {
    {"replace-in-place-keeps-other-bytes", kLayout, "main", "wLeft", "300",
     "; lumira\r\n[Main]\r\nwTop = 1 ; x\r\n\r\n  WLEFT\t=\t300\r\n[Net]\nURL=u\n"},
    {"new-key-after-last-line-that-is-not-blank-comment-included",
     "[Main]\r\na=1\r\n;c\r\n\r\n[Net]\r\nb=2\r\n", "Main", "k", "v",
     "[Main]\r\na=1\r\n;c\r\nk=v\r\n\r\n[Net]\r\nb=2\r\n"},
    {"key-without-equals-replaced-in-place", "[Main]\r\nURL\r\nwTop=1\r\n", "Main", "url", "x",
     "[Main]\r\nURL=x\r\nwTop=1\r\n"},
    {"new-key-in-section-without-keys", "[Main]\r\n\r\n[Net]\r\n", "Main", "k", "v",
     "[Main]\r\nk=v\r\n\r\n[Net]\r\n"},
    {"first-duplicate-key-replaced", "[Main]\r\nk=1\r\nk=2\r\n", "Main", "k", "3",
     "[Main]\r\nk=3\r\nk=2\r\n"},
    {"missing-section-appended", "[Net]\r\nb=2\r\n", "Main", "k", "v",
     "[Net]\r\nb=2\r\n[Main]\r\nk=v\r\n"},
    {"no-final-line-end-not-glued", "[Net]\r\nb=2", "Main", "k", "v",
     "[Net]\r\nb=2\r\n[Main]\r\nk=v\r\n"},
    {"no-final-line-end-new-key", "[Main]\r\na=1", "Main", "k", "v", "[Main]\r\na=1\r\nk=v\r\n"},
    {"no-final-line-end-replace-gets-one", "[Main]\r\nk=1", "Main", "k", "22",
     "[Main]\r\nk=22\r\n"},
    {"lf-file-keeps-lf-lines", "[Main]\na=1\nk=1\n[Net]\nb=2\n", "Main", "k", "2",
     "[Main]\na=1\nk=2\n[Net]\nb=2\n"},
    {"utf8-bom-kept", "\xEF\xBB\xBF[Main]\r\nk=1\r\n", "Main", "k", kChinese,
     "\xEF\xBB\xBF[Main]\r\nk=" + kChinese + "\r\n"},
    {"gb18030-file-stays-gb18030", toGb18030("[Main]\r\n地址=上海\r\n"), "Main", "地址", kChinese,
     toGb18030("[Main]\r\n地址=" + kChinese + "\r\n")},
    {"gb18030-new-section-and-key", toGb18030("[Main]\r\nk=上海\r\n"), "网络", "名称", kChinese,
     toGb18030("[Main]\r\nk=上海\r\n[网络]\r\n名称=" + kChinese + "\r\n")},
    {"only-first-line-of-value-written", "[Main]\r\nk=1\r\n", "Main", "k", "a\r\n[Evil]\nb",
     "[Main]\r\nk=a\r\n"},
    {"empty-key-ignored", "[Main]\r\n", "Main", "", "v", "[Main]\r\n"},
    {"empty-section-ignored", "[Main]\r\n", " ", "k", "v", "[Main]\r\n"},
    {"key-with-equals-ignored", "[Main]\r\n", "Main", "a=b", "v", "[Main]\r\n"},
    {"utf16le-file-stays-utf16le-with-mark", utf16le("[Main]\r\nk=1\r\n[Net]\r\n"), "Main", "k",
     kChinese, utf16le("[Main]\r\nk=" + kChinese + "\r\n[Net]\r\n")},
    {"utf16be-new-key-stays-utf16be", utf16be("[Main]\nk=1\n"), "Main", "URL", "😀",
     utf16be("[Main]\nk=1\nURL=😀\r\n")},
    {"invalid-utf8-value-does-not-turn-file-gb18030", "[Main]\r\n", "Main", "k", "a\xFF",
     "[Main]\r\nk=a\xEF\xBF\xBD\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Table, IniWrite, testing::ValuesIn(kWriteCases), table::CaseName());

TEST_F(IniFile, ReadOnlyFileLeftUnchanged) {
    put("[Main]\r\nk=1\r\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    writeIniValue("Main", "k", "2", path);
    writeIniValue("Main", "new", "2", path);
    EXPECT_EQ(bytes(), "[Main]\r\nk=1\r\n");
    EXPECT_EQ(fileCount(), 1u);
}

TEST_F(IniFile, ReadOnlyFolderLeftUnchanged) {
    put("[Main]\r\nk=1\r\n");
    const std::string other = (dir / "new.ini").string();
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    writeIniValue("Main", "k", "2", path);
    writeIniValue("Main", "k", "2", other);
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(bytes(), "[Main]\r\nk=1\r\n");
    EXPECT_EQ(fileCount(), 1u);
}

TEST_F(IniFile, PermissionBitsKept) {
    put("[Main]\r\nk=1\r\n");
    fs::permissions(path, fs::perms(0640));
    writeIniValue("Main", "k", "2", path);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
    EXPECT_EQ(readIniValue("Main", "k", path), "2");
    const std::string created = (dir / "new.ini").string();
    writeIniValue("Main", "k", "2", created);
    EXPECT_EQ(fs::status(created).permissions(), fs::perms(0600)) << "it may hold a password";
}

TEST_F(IniFile, InterruptedWriteLeavesOldFileWhole) {
    put("[Main]\r\nk=1\r\n");
    std::string seen;
    lumira::detail::beforeReplaceHook = [&](const std::string& temp) {
        std::ifstream in(temp, std::ios::binary);
        std::getline(in, seen, '\0');
        EXPECT_EQ(fs::path(temp).parent_path(), dir);
        return false;
    };
    writeIniValue("Main", "k", "2", path);
    EXPECT_EQ(seen, "[Main]\r\nk=2\r\n"); // the new content was complete in the temporary file
    EXPECT_EQ(bytes(), "[Main]\r\nk=1\r\n");
    EXPECT_EQ(fileCount(), 1u);
}

// A save killed at any moment (a power cut, SIGKILL) leaves the five values all old or all
// new, and the next save clears the temporary file it may have left.
TEST_F(IniFile, SaveKilledAtRandomMomentsLeavesAllOldOrAllNew) {
    using Values = std::vector<std::pair<std::string, std::string>>;
    const auto values = [](const std::string& v) {
        return Values{{"wTop", v}, {"wLeft", v}, {"wWidth", v}, {"wHeight", v}, {"URL", v}};
    };
    writeIniValues("Main", values("1"), path);
    std::mt19937 random(20261207);
    for (int round = 0; round < 200; ++round) {
        const pid_t saver = fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            for (int i = 0;; ++i)
                writeIniValues("Main", values(i % 2 ? "1" : "22"), path);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        kill(saver, SIGKILL);
        waitpid(saver, nullptr, 0);
        const std::string seen = readIniValue("Main", "wTop", path);
        ASSERT_TRUE(seen == "1" || seen == "22") << "round " << round << ": " << bytes();
        for (const char* key : {"wLeft", "wWidth", "wHeight", "URL"})
            ASSERT_EQ(readIniValue("Main", key, path), seen)
                << "round " << round << ": " << bytes();
    }
    writeIniValues("Main", values("3"), path);
    EXPECT_EQ(fileCount(), 1u) << "a temporary file was left";
}

// A symbolic link at the file's name is never followed, whether it was there when the save
// started or took the file's place while the save was under way: the link's target keeps its
// bytes and the link stays a link.
TEST_F(IniFile, SymlinkIsNeverWrittenThrough) {
    std::ofstream(dir / "victim") << "root's own";
    const auto plant = [&](const char* target) {
        fs::remove(path);
        fs::create_symlink(dir / target, path);
    };
    plant("nowhere");
    writeIniValue("Main", "k", "2", path);
    plant("victim");
    writeIniValue("Main", "k", "2", path);
    fs::remove(path);
    put("[Main]\r\nk=1\r\n"); // and a link takes its place while it is saved
    lumira::detail::beforeReplaceHook = [&](const std::string&) {
        plant("victim");
        return true;
    };
    writeIniValue("Main", "k", "2", path);
    EXPECT_TRUE(fs::is_symlink(path));
    std::ostringstream kept;
    kept << std::ifstream(dir / "victim").rdbuf();
    EXPECT_EQ(kept.str(), "root's own");
    EXPECT_EQ(fileCount(), 2u) << "a file made through the dangling link, or a temporary one";
}

// --- encodings -------------------------------------------------------------------------------

TEST(TextEncoding, BadInputIsReplacedNotFatal) {
    EXPECT_FALSE(lumira::isValidUtf8("\xC0\xAF"));         // overlong '/'
    EXPECT_FALSE(lumira::isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(lumira::isValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(lumira::isValidUtf8("\xE5\x8C"));         // cut off
    EXPECT_EQ(lumira::gb18030ToUtf8("a\xFF"
                                    "b\xB1"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(lumira::utf8ToGb18030("a\xFF"
                                    "b"),
              "a?b");
    EXPECT_EQ(lumira::gb18030ToUtf8(lumira::utf8ToGb18030(kChinese + "€😀")), kChinese + "€😀");
}

} // namespace

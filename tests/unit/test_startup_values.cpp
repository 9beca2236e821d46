// What the display window makes of lumira.ini at start-up, twips to device pixels, and the
// drawing path it chooses.
#include "common/twips.h"
#include "display/rendering_path.h"
#include "display/startup_values.h"
#include "tests/table_case.h"

#include <gtest/gtest.h>
#include <map>
#include <ostream>

namespace {

struct StartupCase : table::Case {
    std::map<std::string, std::string> stored;
    double left, top, width, height;
    const char* url; // nullptr: the default page
};

class StartupValuesTest : public testing::TestWithParam<StartupCase> {};

const QString kDefaultPage = QStringLiteral("/opt/lumira/start.htm");

struct RenderingCase : table::Case {
    const char* option;
    bool contextMade;
    const char* renderer;
    bool software;
};

class RenderingTable : public testing::TestWithParam<RenderingCase> {};

TEST_P(RenderingTable, softwareUnlessOpenGlIsHardwareOrTheOptionSays) {
    const auto& row = GetParam();
    const lumira::RenderingPath path = lumira::chooseRenderingPath(
        lumira::parseRenderingOption(row.option), row.contextMade, row.renderer);
    EXPECT_EQ(path.software, row.software);
    EXPECT_FALSE(path.reason.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, RenderingTable,
    testing::Values(
        RenderingCase{"hardware-keeps-the-gpu", "", true, "Mesa Intel(R) UHD Graphics 620", false},
        RenderingCase{"llvmpipe-is-software", "auto", true, "llvmpipe (LLVM 15.0.6, 256 bits)",
                      true},
        RenderingCase{"softpipe-is-software", "auto", true, "softpipe", true},
        RenderingCase{"swrast-is-software", "Auto", true, "Software Rasterizer", true},
        RenderingCase{"no-context-is-software", "auto", false, "", true},
        RenderingCase{"unknown-renderer-is-software", "auto", true, "", true},
        RenderingCase{"option-gpu-wins-over-llvmpipe", " GPU ", true, "llvmpipe", false},
        RenderingCase{"option-software-wins-over-hardware", "software", true, "NVIDIA GeForce",
                      true},
        RenderingCase{"unknown-option-is-auto", "fast", true, "AMD Radeon RX 6600", false}),
    table::CaseName());

} // namespace

TEST_P(StartupValuesTest, valuesAndDefaults) {
    const StartupCase& row = GetParam();
    std::vector<std::string> order;
    const lumira::StartupValues values = lumira::readStartupValues(
        [&](const std::string& key) {
            order.push_back(key);
            auto found = row.stored.find(key);
            return found == row.stored.end() ? std::string() : found->second;
        },
        kDefaultPage);
    EXPECT_EQ(order, (std::vector<std::string>{"wWidth", "wHeight", "wTop", "wLeft", "URL"}));
    EXPECT_DOUBLE_EQ(values.left, row.left);
    EXPECT_DOUBLE_EQ(values.top, row.top);
    EXPECT_DOUBLE_EQ(values.width, row.width);
    EXPECT_DOUBLE_EQ(values.height, row.height);
    EXPECT_EQ(values.url, row.url ? QString::fromUtf8(row.url) : kDefaultPage);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartupValuesTest,
    testing::Values(
        StartupCase{"no-file", {}, 100, 100, 320, 240, nullptr},
        StartupCase{"blanks-around-a-number", {{"wLeft", " 250 "}}, 250, 100, 320, 240, nullptr},
        StartupCase{"negative-and-fraction",
                    {{"wTop", "-20"}, {"wLeft", "100.5"}},
                    100.5,
                    -20,
                    320,
                    240,
                    nullptr},
        StartupCase{"letters-take-the-default",
                    {{"wWidth", "abc"}, {"wLeft", "abc"}},
                    100,
                    100,
                    320,
                    240,
                    nullptr},
        StartupCase{"zero-width-is-a-number", {{"wWidth", "0"}}, 100, 100, 0, 240, nullptr},
        StartupCase{"exponent", {{"wHeight", "1e2"}}, 100, 100, 320, 100, nullptr},
        StartupCase{"negative-size-is-not-usable",
                    {{"wWidth", "-5"}, {"wHeight", "-1"}},
                    100,
                    100,
                    320,
                    240,
                    nullptr},
        StartupCase{"beyond-window-coordinates",
                    {{"wLeft", "32768"}, {"wTop", "-40000"}},
                    100,
                    100,
                    320,
                    240,
                    nullptr},
        StartupCase{"edge-of-window-coordinates",
                    {{"wLeft", "32767"}, {"wTop", "-32768"}},
                    32767,
                    -32768,
                    320,
                    240,
                    nullptr},
        StartupCase{"blank-address-is-not-empty", {{"URL", "   "}}, 100, 100, 320, 240, "   "},
        StartupCase{"chinese-address",
                    {{"URL", "/home/用户/看板.htm"}},
                    100,
                    100,
                    320,
                    240,
                    "/home/用户/看板.htm"}),
    table::CaseName());

TEST(Twips, pixelsThroughTwipsLandOnWholeDevicePixels) {
    EXPECT_FLOAT_EQ(lumira::toTwips(100.5, 15.0f), 1507.5f);
    EXPECT_EQ(lumira::toPixels(1507.5f, 15.0f), 101);
    EXPECT_EQ(lumira::toPixels(lumira::toTwips(-20, 15.0f), 15.0f), -20);
    // The 20-twip margin is one pixel at 96 DPI and two at 144 DPI.
    EXPECT_EQ(lumira::toPixels(320 * 15.0f + lumira::kWindowMarginTwips, 15.0f), 321);
    EXPECT_EQ(lumira::toPixels(320 * 10.0f + lumira::kWindowMarginTwips, 10.0f), 322);
    EXPECT_EQ(lumira::twipsRect(-1200, 0, 7560, 525, {15, 15}), QRect(-80, 0, 504, 35));
    EXPECT_EQ(lumira::twipsRect(3720, 1080, 975, 375, {10, 10}), QRect(372, 108, 98, 38));
}

TEST(Twips, valuesTheWindowSystemCannotTakeAreBroughtIntoRange) {
    EXPECT_DOUBLE_EQ(lumira::clampExtent(-5), 0);
    EXPECT_DOUBLE_EQ(lumira::clampExtent(1e300), 32767);
    EXPECT_DOUBLE_EQ(lumira::clampCoordinate(-1e9), -32768);
    EXPECT_DOUBLE_EQ(lumira::clampCoordinate(123.5), 123.5);
}

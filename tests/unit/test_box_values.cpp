// The settings window's box rules: what a box shows at load, what the periodic check puts in,
// and what the nudge buttons write.
#include "settings/box_values.h"
#include "welcome/version_line.h"

#include "version.h"

#include <gtest/gtest.h>

using lumira::formatNumber;
using lumira::nudged;

TEST(BoxValues, loadShowsStoredNumbersAsTheyAreAndLoadValuesOtherwise) {
    EXPECT_EQ(lumira::loadedBoxText(" 250 ", "100"), QStringLiteral(" 250 "));
    EXPECT_EQ(lumira::loadedBoxText("10.5", "100"), QStringLiteral("10.5"));
    EXPECT_EQ(lumira::loadedBoxText("", "320"), QStringLiteral("320"));
    EXPECT_EQ(lumira::loadedBoxText("abc", "240"), QStringLiteral("240"));
}

TEST(BoxValues, periodicCheckReplacesOnlyWhatIsNotANumber) {
    EXPECT_EQ(lumira::periodicReplacement("", "0"), QStringLiteral("0"));         // cleared
    EXPECT_EQ(lumira::periodicReplacement("-", "0"), QStringLiteral("0"));        // lone minus
    EXPECT_EQ(lumira::periodicReplacement("12px", "320"), QStringLiteral("320")); // letters
    EXPECT_EQ(lumira::periodicReplacement("-5", "0"), std::nullopt);              // pasted whole
    EXPECT_EQ(lumira::periodicReplacement("10.5", "0"), std::nullopt);
    EXPECT_DOUBLE_EQ(lumira::boxNumber("1e3", 0), 1000);
    EXPECT_DOUBLE_EQ(lumira::boxNumber("x", 320), 320);
}

TEST(BoxValues, nudgesWriteFifteenDigitsWithoutTrailingZeros) {
    EXPECT_EQ(nudged("100", +1), QStringLiteral("101"));
    EXPECT_EQ(nudged("10.5", +1), QStringLiteral("11.5"));
    EXPECT_EQ(nudged("10.5", -1), QStringLiteral("9.5"));
    EXPECT_EQ(nudged("0", -1), QStringLiteral("-1"));
    EXPECT_EQ(nudged("1", -1), QStringLiteral("0"));
    EXPECT_EQ(nudged(" 7 ", +1), QStringLiteral("8"));
    EXPECT_EQ(nudged("0.1", +1), QStringLiteral("1.1")) << "no binary noise in the 15 digits";
    EXPECT_EQ(nudged("1e3", +1), QStringLiteral("1001"));
    EXPECT_EQ(nudged("abc", +1), QStringLiteral("abc")) << "a box without a number stays";
    EXPECT_EQ(nudged("", -1), QString());
    EXPECT_EQ(formatNumber(123456789012345.0), QStringLiteral("123456789012345"));
    EXPECT_EQ(formatNumber(0.5), QStringLiteral("0.5"));
}

TEST(VersionLine, readsBlankVBlankVersionBlank) {
    EXPECT_EQ(lumira::versionLine(1, 0, 0), QStringLiteral(" V 1.0.0 "));
    EXPECT_EQ(lumira::versionLine(2, 13, 7), QStringLiteral(" V 2.13.7 "));
    // The numbers the build stamps follow the CMake project version.
    EXPECT_EQ(lumira::versionLine(lumira::version::major, lumira::version::minor,
                                  lumira::version::revision),
              QStringLiteral(" V %1 ").arg(QStringLiteral(LUMIRA_PROJECT_VERSION)));
}

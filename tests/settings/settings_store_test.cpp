#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>

#include "platform/runtime_error.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::TemporaryConfig;

TEST(SettingsStoreTest, LivesInTheConfigFolderUnderCorvantis) {
    TemporaryConfig config;
    EXPECT_EQ(SettingsFilePath(), config.path() + "/Corvantis/Vellumax.conf");
}

TEST(SettingsStoreTest, AnEmptyStoreGivesTheReadersDefaults) {
    TemporaryConfig config;
    EXPECT_EQ(ReadSetting("Slider1", "85"), "85");
    EXPECT_EQ(ReadSetting("LastFolder", ""), "");
    EXPECT_EQ(ReadSetting("LastFolder"), "");
    EXPECT_FALSE(QFileInfo::exists(SettingsFilePath())) << "reading must not create the store";
}

TEST(SettingsStoreTest, EveryWriteIsOnDiskWhenTheCallReturns) {
    TemporaryConfig config;
    WriteSetting("Text1", "/data/out/");
    EXPECT_EQ(config.Stored("Text1"), "/data/out/");
    WriteSetting("Text1", "");
    EXPECT_EQ(config.Stored("Text1"), "") << "an empty text is a value, not a missing key";
    EXPECT_EQ(ReadSetting("Text1", "default"), "");
}

TEST(SettingsStoreTest, ReadsWhatAnotherWriterStoredMeanwhile) {
    TemporaryConfig config;
    WriteSetting("Slider1", "40");
    config.Store("Slider1", "41");
    EXPECT_EQ(ReadSetting("Slider1", "85"), "41");
}

TEST(SettingsStoreTest, TextsThatLookLikeListsOrCarryQuotesComeBackUnchanged) {
    TemporaryConfig config;
    const QString odd = "/a, b/it's \"quoted\"/$HOME;x=1/";
    WriteSetting("Text1", odd);
    EXPECT_EQ(ReadSetting("Text1"), odd);
}

TEST(SettingsStoreTest, ARefusedWriteRaises) {
    TemporaryConfig config;
    // A file where the store's folder should be stops even a privileged user.
    testing::MakeFile(config.path() + "/Corvantis");
    EXPECT_THROW(WriteSetting("Slider1", "50"), RuntimeError);
}

struct BooleanCase {
    const char* text;
    bool expected;
};
class SettingToBooleanTest : public ::testing::TestWithParam<BooleanCase> {};
TEST_P(SettingToBooleanTest, ReadsWordsAndNumbers) {
    EXPECT_EQ(SettingToBoolean(GetParam().text), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Texts, SettingToBooleanTest,
                         ::testing::Values(BooleanCase{"True", true}, BooleanCase{"true", true},
                                           BooleanCase{"TRUE", true}, BooleanCase{"False", false},
                                           BooleanCase{"fAlSe", false}, BooleanCase{"1", true},
                                           BooleanCase{"0", false}, BooleanCase{"-1", true},
                                           BooleanCase{"2.5", true}));

TEST(SettingConversionTest, TextThatIsNoBooleanIsATypeMismatch) {
    for (const char* text : {"", "yes", "abc", "Truth"}) {
        try {
            SettingToBoolean(text);
            ADD_FAILURE() << "no error for " << text;
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.description(), "Type mismatch") << text;
        }
    }
}

TEST(SettingConversionTest, IntegersAreDecimalAndBoundedTo32Bits) {
    EXPECT_EQ(SettingToInteger32("85"), 85);
    EXPECT_EQ(SettingToInteger32(" 100 "), 100);
    EXPECT_EQ(SettingToInteger32("-7"), -7);
    EXPECT_EQ(SettingToInteger32("2.5"), 2) << "halves round to even";
    EXPECT_EQ(SettingToInteger32("3.5"), 4);
    EXPECT_EQ(SettingToInteger32("2147483647"), 2147483647);
    EXPECT_THROW(SettingToInteger32("abc"), RuntimeError);
    EXPECT_THROW(SettingToInteger32(""), RuntimeError);
    try {
        SettingToInteger32("2147483648");
        ADD_FAILURE() << "no overflow";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.description(), "Overflow");
    }
}

TEST(SettingConversionTest, BooleansAreStoredAsWords) {
    EXPECT_EQ(BooleanSetting(true), "True");
    EXPECT_EQ(BooleanSetting(false), "False");
}

}  // namespace
}  // namespace vellumax

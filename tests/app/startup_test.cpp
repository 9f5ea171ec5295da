#include "app/startup.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "test_support.h"

namespace vellumax {
namespace {

// The desktop folder the user's settings name, else the home folder: never a folder that is not
// there.
TEST(DefaultOutputFolderTest, IsTheNamedDesktopOrElseHome) {
    QTemporaryDir home;
    const QByteArray previousHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    testing::TemporaryConfig config;
    EXPECT_EQ(DefaultOutputFolder(), home.path() + '/') << "no Desktop folder";

    testing::MakeFile(config.path() + "/user-dirs.dirs",
                      "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    QDir(home.path()).mkdir("Schreibtisch");
    EXPECT_EQ(DefaultOutputFolder(), home.path() + "/Schreibtisch/");
    qputenv("HOME", previousHome);
}

TEST(VendorSiteDrawTest, OpensOnExactlyOneDrawInAHundred) {
    EXPECT_FALSE(DrawOpensVendorSite(0.0));     // n = 1
    EXPECT_FALSE(DrawOpensVendorSite(0.0599));  // n = 6
    EXPECT_TRUE(DrawOpensVendorSite(0.06));     // n = 7
    EXPECT_TRUE(DrawOpensVendorSite(0.0699));
    EXPECT_FALSE(DrawOpensVendorSite(0.07));    // n = 8
    EXPECT_FALSE(DrawOpensVendorSite(0.9999));  // n = 100
}

}  // namespace
}  // namespace vellumax

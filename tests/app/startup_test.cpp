#include "app/startup.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vellumax {
namespace {

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

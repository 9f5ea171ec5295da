#include "platform/product.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vellumax {
namespace {

TEST(ApplicationTitleTest, CutsBeforeTheLastWordAtLeastOnceAndToFortyCharacters) {
    EXPECT_EQ(ShortenedTitle("Vellumax"), "Vellumax") << "a single word cannot be cut";
    EXPECT_EQ(ShortenedTitle("Vellumax Document Converter"), "Vellumax Document");
    EXPECT_EQ(ShortenedTitle("Corvantis Vellumax Document Imaging to JPEG Converter Deluxe"),
              "Corvantis Vellumax Document Imaging to");
    EXPECT_EQ(ApplicationTitle(), "Vellumax");
}

}  // namespace
}  // namespace vellumax

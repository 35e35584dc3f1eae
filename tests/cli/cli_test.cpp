#include <gtest/gtest.h>

#include "driver.hpp"

namespace korvane {
namespace {

TEST(DeriveOutputPath, LastDotAnywhere) { EXPECT_EQ(deriveOutputPath("dir.old/archive"), "dir.png"); }

}  // namespace
}  // namespace korvane

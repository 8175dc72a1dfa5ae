#include <gtest/gtest.h>

#include "util/path.h"
#include "test_support.h"

TEST(PathBasics, ModuleFolder) {
    std::wstring folder = ModuleFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), L'\\');
}

#ifndef GXE_TESTS_SUPPORT_TEST_UTIL_H_
#define GXE_TESTS_SUPPORT_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gxe::testing {

// Relative closeness: |x - y| <= rel * max(|x|, |y|). Use EXPECT_NEAR for values
// that should be zero. Reports both numbers with 17 digits on failure.
::testing::AssertionResult IsClose(double x, double y, double rel);

// The data rows of a recorded fixture, a comma-separated file whose comment
// lines start with '#' and whose header row starts with `header`: each row
// split at its commas (the fixtures quote nothing). Empty when the file
// cannot be read.
std::vector<std::vector<std::string>> fixture_rows(const std::string& path,
                                                   const std::string& header);

}  // namespace gxe::testing

#define EXPECT_CLOSE(x, y, rel) EXPECT_TRUE(::gxe::testing::IsClose((x), (y), (rel)))
#define ASSERT_CLOSE(x, y, rel) ASSERT_TRUE(::gxe::testing::IsClose((x), (y), (rel)))

#endif  // GXE_TESTS_SUPPORT_TEST_UTIL_H_

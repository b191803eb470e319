// main() of the program tests under Wine. CTest runs one case per call (--gtest_filter);
// a filter that selects nothing fails instead of passing with no test run.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  if (::testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
    std::printf("No test matches the filter.\n");
    return 1;
  }
  return status;
}

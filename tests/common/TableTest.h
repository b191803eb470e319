// Parameterised tests over a table of cases. A case type with a `name` member names each
// instance after it, made fit for a test name ("scheme read fails" becomes
// "scheme_read_fails"); the name also shows in failure messages.
#ifndef PM_TESTS_TABLETEST_H
#define PM_TESTS_TABLETEST_H

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

// `text` with every character a test name may not hold made '_'.
inline std::string FitForTestName(std::string text) {
  for (char& c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return FitForTestName(info.param.name) + "_" + std::to_string(info.index);
  }
};

#endif

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PMObject.h"

namespace {

// Exposes what no operation of the system reads, to check what ReportError keeps.
class ObjectProbe : public PMObject {
 public:
  std::string Previous() const { return previousErrorText; }
  const char* Source() const { return sourceName; }
};

const std::string kSuffix = "->System Error: ";

TEST(PMObjectTest, NewObjectHasNoTextsAndNamesItsSource) {
  ObjectProbe object;
  EXPECT_EQ(object.GetErrorText(), "");
  EXPECT_EQ(object.Previous(), "");
  EXPECT_STREQ(object.Source(), "PMevents");
}

TEST(PMObjectTest, ReportKeepsLatestAndTheOneBefore) {
  struct Case {
    std::vector<std::string> reports;
    std::string last;
    std::string previous;
  };
  const Case cases[] = {
      {{"OpenKey failed"}, "OpenKey failed" + kSuffix, ""},
      {{"A", "B"}, "B" + kSuffix, "A" + kSuffix},
      {{"A", "B", "C"}, "C" + kSuffix, "B" + kSuffix},
      {{""}, kSuffix, ""},
      {{"same", "same"}, "same" + kSuffix, "same" + kSuffix},
      // Texts are bytes: a zero byte or line break inside is kept as it is.
      {{std::string("a\0b\r\n", 5)}, std::string("a\0b\r\n", 5) + kSuffix, ""},
  };
  for (const Case& c : cases) {
    ObjectProbe object;
    for (const std::string& text : c.reports) object.ReportError(text);
    EXPECT_EQ(object.GetErrorText(), c.last) << "after " << c.reports.size() << " reports";
    EXPECT_EQ(object.Previous(), c.previous);
  }
}

TEST(PMObjectTest, CopiesEvolveIndependently) {
  ObjectProbe original;
  original.ReportError("first");
  ObjectProbe copy = original;
  EXPECT_EQ(copy.GetErrorText(), "first" + kSuffix);
  EXPECT_STREQ(copy.Source(), "PMevents");

  copy.ReportError("on copy");
  EXPECT_EQ(original.GetErrorText(), "first" + kSuffix);
  EXPECT_EQ(original.Previous(), "");
  EXPECT_EQ(copy.Previous(), "first" + kSuffix);

  original.ReportError("on original");
  EXPECT_EQ(copy.GetErrorText(), "on copy" + kSuffix);

  ObjectProbe assigned;
  assigned = original;
  EXPECT_EQ(assigned.GetErrorText(), "on original" + kSuffix);
  EXPECT_EQ(assigned.Previous(), "first" + kSuffix);
}

}  // namespace

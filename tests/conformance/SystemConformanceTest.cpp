// Environment expansion, the error mode and the display power-off settings, as the log and
// the scheme commit use them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ConformanceSupport.h"
#include "Win32Api.h"

namespace {

constexpr DWORD kSentinelWord = 0xDEADBEEF;
constexpr char kSentinel = '#';

class Environment : public ::testing::Test {
 protected:
  void SetUp() override {
    conformance::SetEnv("DORVANE_CONF_VAR", "value");
    conformance::SetEnv("DORVANE_CONF_UNSET", nullptr);
  }
  void TearDown() override { conformance::SetEnv("DORVANE_CONF_VAR", nullptr); }
};

TEST_F(Environment, ExpansionReplacesKnownNamesAndLeavesTheRestAsWritten) {
  struct Case {
    const char* source;
    const char* expanded;
  };
  const Case cases[] = {
      {"%DORVANE_CONF_VAR%\\log.txt", "value\\log.txt"},
      {"%dorvane_conf_var%", "value"},  // names are found without regard to case
      {"a%DORVANE_CONF_VAR%b%DORVANE_CONF_VAR%", "avaluebvalue"},
      {"%DORVANE_CONF_UNSET%", "%DORVANE_CONF_UNSET%"},
      // The closing sign of an unknown name does not open another reference.
      {"%DORVANE_CONF_UNSET%DORVANE_CONF_VAR%", "%DORVANE_CONF_UNSET%DORVANE_CONF_VAR%"},
      {"%DORVANE_CONF_UNSET%%DORVANE_CONF_VAR%", "%DORVANE_CONF_UNSET%value"},
      {"100%", "100%"},
      {"%%", "%%"},
      {"%DORVANE_CONF_VAR", "%DORVANE_CONF_VAR"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char buffer[128];
    std::memset(buffer, kSentinel, sizeof buffer);
    DWORD needed = ExpandEnvironmentStringsA(c.source, buffer, sizeof buffer);
    EXPECT_STREQ(c.expanded, buffer) << c.source;
    // The size needed counts the terminating zero.
    EXPECT_EQ(std::strlen(c.expanded) + 1, needed) << c.source;
  }
}

TEST_F(Environment, ATooSmallBufferGetsWhatFitsAndTheSizeNeeded) {
  const char* source = "%DORVANE_CONF_VAR%\\x";
  const std::string expanded = "value\\x";
  const auto needed = static_cast<DWORD>(expanded.size() + 1);
  for (DWORD size = 0; size <= needed + 1; ++size) {
    SCOPED_TRACE(size);
    char buffer[16];
    std::memset(buffer, kSentinel, sizeof buffer);
    SetLastError(kSentinelWord);
    EXPECT_EQ(needed, ExpandEnvironmentStringsA(source, buffer, size));
    if (size < needed) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    } else {
      EXPECT_EQ(kSentinelWord, GetLastError());
    }
    // As much as fits, terminated; nothing at all into a buffer of size 0.
    if (size == 0) {
      EXPECT_EQ(kSentinel, buffer[0]);
    } else {
      size_t kept = std::min<size_t>(size - 1, expanded.size());
      EXPECT_EQ(expanded.substr(0, kept), std::string(buffer, kept));
      EXPECT_EQ('\0', buffer[kept]);
      EXPECT_EQ(kSentinel, buffer[kept + 1]);
    }
  }
  EXPECT_EQ(needed, ExpandEnvironmentStringsA(source, nullptr, 0));
}

TEST(ErrorMode, SetErrorModeAnswersThePreviousMode) {
  UINT original = SetErrorMode(SEM_FAILCRITICALERRORS);
  EXPECT_EQ(static_cast<UINT>(SEM_FAILCRITICALERRORS),
            SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
  EXPECT_EQ(static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX),
            SetErrorMode(original));
  EXPECT_EQ(original, SetErrorMode(original));
}

// The display settings live in the user's profile; whatever was there is put back.
class DisplayPowerOff : public ::testing::Test {
 protected:
  static constexpr const char* kDesktop = "Control Panel\\Desktop";

  void SetUp() override {
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, kDesktop, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &desktop_, nullptr));
    for (Saved& s : saved_) {
      DWORD size = sizeof s.data;
      s.present =
          RegQueryValueExA(desktop_, s.name, nullptr, &s.type, s.data, &size) == ERROR_SUCCESS;
      s.size = size;
    }
    SystemParametersInfoA(SPI_GETPOWEROFFACTIVE, 0, &active_, 0);
    timeOutKnown_ = SystemParametersInfoA(SPI_GETPOWEROFFTIMEOUT, 0, &timeOut_, 0);
  }
  void TearDown() override {
    SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, active_, nullptr, 0);
    if (timeOutKnown_) {
      SystemParametersInfoA(SPI_SETPOWEROFFTIMEOUT, static_cast<UINT>(timeOut_), nullptr, 0);
    }
    for (Saved& s : saved_) {
      if (s.present) {
        RegSetValueExA(desktop_, s.name, 0, s.type, s.data, s.size);
      } else {
        RegDeleteValueA(desktop_, s.name);
      }
    }
    RegCloseKey(desktop_);
  }

  std::string Profile(const char* name) {
    char text[32] = {};
    DWORD type = 0;
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(desktop_, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
        ERROR_SUCCESS) {
      return "<absent>";
    }
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type) << name;
    EXPECT_EQ(std::strlen(text) + 1, size) << name << " is stored with its terminator";
    return text;
  }

  struct Saved {
    const char* name;
    bool present;
    DWORD type;
    BYTE data[64];
    DWORD size;
  };
  Saved saved_[2] = {{"PowerOffActive", false, 0, {}, 0}, {"PowerOffTimeOut", false, 0, {}, 0}};
  HKEY desktop_ = nullptr;
  BOOL active_ = FALSE;
  BOOL timeOutKnown_ = FALSE;
  int timeOut_ = 0;
};

TEST_F(DisplayPowerOff, ThePhaseIsKeptInTheProfileOnlyWhenAskedTo) {
  RegDeleteValueA(desktop_, "PowerOffActive");
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, 0));
  BOOL active = kSentinelWord;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETPOWEROFFACTIVE, 0, &active, 0));
  EXPECT_EQ(TRUE, active);
  EXPECT_EQ("<absent>", Profile("PowerOffActive"));

  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, SPIF_UPDATEINIFILE));
  EXPECT_EQ("1", Profile("PowerOffActive"));
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 0, nullptr, SPIF_UPDATEINIFILE));
  EXPECT_EQ("0", Profile("PowerOffActive"));
  active = kSentinelWord;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETPOWEROFFACTIVE, 0, &active, 0));
  EXPECT_EQ(FALSE, active);
}

TEST_F(DisplayPowerOff, TheTimeOutIsKeptInSecondsAsText) {
  if (conformance::IsWine()) {
    // Wine 8 does not implement the power-off time-out (FALSE, ERROR_INVALID_SPI_VALUE);
    // Windows keeps it as below, and so does the stand-in.
    GTEST_SKIP() << "SPI_SETPOWEROFFTIMEOUT is not implemented by Wine";
  }
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFTIMEOUT, 1200, nullptr, SPIF_UPDATEINIFILE));
  EXPECT_EQ("1200", Profile("PowerOffTimeOut"));
  int seconds = -1;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETPOWEROFFTIMEOUT, 0, &seconds, 0));
  EXPECT_EQ(1200, seconds);
}

}  // namespace

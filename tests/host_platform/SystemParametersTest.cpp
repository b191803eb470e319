// Where the stand-in keeps the display power-off settings: the session, and the profile in
// HKCU "Control Panel\Desktop" when SPIF_UPDATEINIFILE asks for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostControl.h"
#include "Win32Api.h"

namespace {

constexpr const char* kDesktop = "Control Panel\\Desktop";

class SystemParameters : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::SetDebugEcho(false);
  }

  // The profile's value as its bytes, "<absent>" when there is none.
  static std::string Profile(const char* name) {
    host::RegValue value;
    if (!host::ReadValue(HKEY_CURRENT_USER, kDesktop, name, &value)) return "<absent>";
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type) << name;
    return std::string(value.data.begin(), value.data.end());
  }

  static BOOL Active() {
    BOOL active = 7;
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETPOWEROFFACTIVE, 0, &active, 0));
    return active;
  }

  static int TimeOut() {
    int seconds = -7;
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETPOWEROFFTIMEOUT, 0, &seconds, 0));
    return seconds;
  }
};

TEST_F(SystemParameters, UpdatingTheProfileStoresTextWithItsTerminator) {
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, SPIF_UPDATEINIFILE));
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFTIMEOUT, 60, nullptr, SPIF_UPDATEINIFILE));
  EXPECT_EQ(std::string("1", 2), Profile("PowerOffActive"));
  EXPECT_EQ(std::string("60", 3), Profile("PowerOffTimeOut"));
  EXPECT_EQ(TRUE, Active());
  EXPECT_EQ(60, TimeOut());

  // Any nonzero parameter switches the phase on; zero seconds is a time-out like another.
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 5, nullptr, SPIF_UPDATEINIFILE));
  EXPECT_EQ(std::string("1", 2), Profile("PowerOffActive"));
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 0, nullptr,
                                    SPIF_UPDATEINIFILE | SPIF_SENDCHANGE));
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFTIMEOUT, 0, nullptr, SPIF_UPDATEINIFILE));
  EXPECT_EQ(std::string("0", 2), Profile("PowerOffActive"));
  EXPECT_EQ(std::string("0", 2), Profile("PowerOffTimeOut"));

  // Written straight into the registry: the record shows the system's calls only.
  EXPECT_EQ(std::vector<std::string>(7, "SystemParametersInfoA"), host::Calls());
}

TEST_F(SystemParameters, WithoutTheFlagASettingHoldsForTheSessionOnly) {
  host::WriteString(HKEY_CURRENT_USER, kDesktop, "PowerOffTimeOut", "900");
  EXPECT_EQ(900, TimeOut());   // no session value yet: the profile answers
  EXPECT_EQ(FALSE, Active());  // absent from the profile

  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFTIMEOUT, 120, nullptr, 0));
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, 0));
  EXPECT_EQ(120, TimeOut());
  EXPECT_EQ(TRUE, Active());
  EXPECT_EQ(std::string("900", 4), Profile("PowerOffTimeOut"));
  EXPECT_EQ("<absent>", Profile("PowerOffActive"));

  host::Reset();
  EXPECT_EQ(0, TimeOut());
  EXPECT_EQ(FALSE, Active());
}

TEST_F(SystemParameters, OtherActionsAndMissingResultsAreRefused) {
  SetLastError(0);
  EXPECT_FALSE(SystemParametersInfoA(0x0001 /* SPI_GETBEEP */, 0, nullptr, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SPI_VALUE), GetLastError());
  for (UINT get : {SPI_GETPOWEROFFACTIVE, SPI_GETPOWEROFFTIMEOUT}) {
    SetLastError(0);
    EXPECT_FALSE(SystemParametersInfoA(get, 0, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  }
  EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, kDesktop));
}

}  // namespace

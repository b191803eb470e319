#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "HostFixture.h"
#include "HostSchemeStore.h"
#include "PwrMgmt.h"
#include "SchemeProbe.h"

namespace {

using Calls = std::vector<std::string>;
using scheme_store::BytesOf;
using scheme_store::StoredMachineHalf;
using scheme_store::StoredUserHalf;

const std::string kSuffix = "->System Error: ";
const std::string kDesktop = "Control Panel\\Desktop";
const std::string kPrivileges =
    "PwrScheme::commit(): Current User has insufficient priviledges to write active power "
    "scheme and no override has been set.";
const std::string kWriteFailed = "PwrScheme::commit() failed. Unable to Write PowerScheme";
const std::string kActivateFailed = "PwrScheme::commit() failed. Unable to Set Active PowerScheme";

class CommitTest : public HostFixture {
 protected:
  // Schemes 0 and 1 (distinct user halves), scheme 1 active, display settings off.
  void SetUp() override {
    HostFixture::SetUp();
    POWER_POLICY other = scheme_store::DistinctPolicy();
    other.user.VideoTimeoutAc = 300;
    other.mach.DozeS4TimeoutAc = 7200;
    scheme_store::Seed(0, scheme_store::DistinctPolicy());
    scheme_store::Seed(1, other);
    scheme_store::SetActive(1);
    host::WriteString(HKEY_CURRENT_USER, kDesktop, "PowerOffActive", "0");
    host::WriteString(HKEY_CURRENT_USER, kDesktop, "PowerOffTimeOut", "999");
  }

  static std::string Desktop(const std::string& name) {
    std::string text = ValueBytes(HKEY_CURRENT_USER, kDesktop, name);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  static UINT Active() { return PwrMgmt().GetPwrSchemeInUse(); }
  // Edits that touch both halves of the scheme.
  static void Edit(PwrScheme& scheme) {
    scheme.SetUserAcVideoTimeOut(7);
    scheme.SetUserDcStandbyTimeOut(8);
    scheme.SetMachAcHibernateTimeOut(50);
  }
};

class UserWithRights : public CommitTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UserWithRights, WritesAndActivatesWhateverTheBypass) {
  const bool bypass = GetParam();
  SchemeProbe scheme(0);
  Edit(scheme);
  if (bypass) scheme.EnableSecurityBypass();
  const std::vector<uint8_t> edited = scheme.PolicyBytes();
  host::ClearCalls();

  EXPECT_FALSE(scheme.commit());
  EXPECT_FALSE(scheme.CommittedUserHalfOnly());
  EXPECT_EQ(scheme.GetErrorText(), "");
  EXPECT_EQ(host::Calls(),
            (Calls{"CanUserWritePwrScheme", "EnumPwrSchemes", "WritePwrScheme",
                   "SetActivePwrScheme", "SystemParametersInfoA", "SystemParametersInfoA"}));
  EXPECT_EQ(StoredUserHalf(0), BytesOf(scheme.Policy().user));
  EXPECT_EQ(StoredMachineHalf(0), BytesOf(scheme.Policy().mach));
  EXPECT_EQ(Active(), 0u);
  // The active scheme's own record was not overwritten with this one.
  EXPECT_NE(StoredUserHalf(1), BytesOf(scheme.Policy().user));
  EXPECT_EQ(scheme.PolicyBytes(), edited);
}

INSTANTIATE_TEST_SUITE_P(Bypass, UserWithRights, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "bypass_on" : "bypass_off");
                         });

TEST_F(CommitTest, UserWithoutRightsAndWithoutBypassIsRefused) {
  host::SetLimitedUser(true);
  SchemeProbe scheme(0);
  Edit(scheme);
  const std::vector<uint8_t> stored = StoredUserHalf(0);
  const std::vector<uint8_t> active = StoredUserHalf(1);
  host::ClearCalls();

  EXPECT_TRUE(scheme.commit());
  EXPECT_FALSE(scheme.CommittedUserHalfOnly());
  EXPECT_EQ(scheme.GetErrorText(), kPrivileges + kSuffix);
  EXPECT_EQ(host::Calls(),
            (Calls{"CanUserWritePwrScheme", "SystemParametersInfoA", "SystemParametersInfoA"}));
  EXPECT_EQ(StoredUserHalf(0), stored);
  EXPECT_EQ(StoredUserHalf(1), active);
  EXPECT_EQ(Active(), 1u);
  EXPECT_EQ(Desktop("PowerOffActive"), "1");
  EXPECT_EQ(Desktop("PowerOffTimeOut"), "420");
}

TEST_F(CommitTest, BypassWritesOnlyTheUserHalfIntoTheActiveScheme) {
  host::SetLimitedUser(true);
  // The scheme edited is 0; the active one is 1: the override goes to the active scheme.
  SchemeProbe scheme(0);
  Edit(scheme);
  scheme.EnableSecurityBypass();
  const std::vector<uint8_t> user0 = StoredUserHalf(0);
  const std::vector<uint8_t> machine0 = StoredMachineHalf(0);
  const std::vector<uint8_t> machine1 = StoredMachineHalf(1);
  host::ClearCalls();

  EXPECT_FALSE(scheme.commit());
  EXPECT_TRUE(scheme.CommittedUserHalfOnly());  // the machine half was not stored
  EXPECT_EQ(scheme.GetErrorText(), "");
  EXPECT_EQ(host::Calls(),
            (Calls{"CanUserWritePwrScheme", "GetActivePwrScheme", "RegOpenKeyExA", "RegSetValueExA",
                   "RegCloseKey", "SystemParametersInfoA", "SystemParametersInfoA"}));
  host::RegValue value;
  ASSERT_TRUE(host::ReadValue(HKEY_CURRENT_USER, scheme_store::UserKey(1), "Policies", &value));
  EXPECT_EQ(value.type, DWORD{REG_BINARY});
  EXPECT_EQ(value.data.size(), 80u);
  EXPECT_EQ(value.data, BytesOf(scheme.Policy().user));
  EXPECT_EQ(StoredUserHalf(0), user0);
  EXPECT_EQ(StoredMachineHalf(0), machine0);
  EXPECT_EQ(StoredMachineHalf(1), machine1);
  EXPECT_EQ(Active(), 1u);
  EXPECT_EQ(host::OpenKeyCount(), 0u);
}

TEST_F(CommitTest, BypassFollowsAnyActiveIndex) {
  host::SetLimitedUser(true);
  for (UINT active : {0u, 9u, 10u, 99u, 100u, 123u, 65534u}) {
    SCOPED_TRACE(active);
    scheme_store::Seed(active, scheme_store::DistinctPolicy());
    scheme_store::SetActive(active);
    SchemeProbe scheme(1);
    Edit(scheme);
    scheme.EnableSecurityBypass();
    EXPECT_FALSE(scheme.commit());
    EXPECT_EQ(StoredUserHalf(active), BytesOf(scheme.Policy().user));
  }
}

TEST_F(CommitTest, BypassWithoutAnActiveSchemeKeyWritesNothing) {
  host::SetLimitedUser(true);
  const struct {
    const char* what;
    std::function<void()> arrange;
    std::string missingKey;
  } cases[] = {
      {"active index unknown (65535)",
       [] { host::FailCall(host::gated::GetActivePwrScheme, 1, ERROR_FILE_NOT_FOUND); },
       scheme_store::UserKey(65535)},
      {"active scheme without a key", [] { scheme_store::SetActive(42); },
       scheme_store::UserKey(42)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SchemeProbe scheme(0);
    Edit(scheme);
    scheme.EnableSecurityBypass();
    const std::string before = host::ExportRegText(HKEY_CURRENT_USER, scheme_store::kUserPolicies);
    c.arrange();
    host::ClearCalls();

    EXPECT_FALSE(scheme.commit());
    EXPECT_EQ(scheme.GetErrorText(), "");
    EXPECT_EQ(host::CallCount(host::gated::RegOpenKeyExA), 1u);
    EXPECT_EQ(host::CallCount(host::gated::RegSetValueExA), 0u);
    EXPECT_FALSE(host::KeyExists(HKEY_CURRENT_USER, c.missingKey));
    EXPECT_EQ(host::ExportRegText(HKEY_CURRENT_USER, scheme_store::kUserPolicies), before);
    EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 2u);
  }
}

TEST_F(CommitTest, BypassIgnoresARefusedOpenOrWrite) {
  host::SetLimitedUser(true);
  for (const host::FailableFunction& function :
       {host::gated::RegOpenKeyExA, host::gated::RegSetValueExA}) {
    SCOPED_TRACE(function.name);
    SchemeProbe scheme(0);
    Edit(scheme);
    scheme.EnableSecurityBypass();
    const std::vector<uint8_t> before = StoredUserHalf(1);
    host::FailCall(function, 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(scheme.commit());
    EXPECT_EQ(scheme.GetErrorText(), "");
    EXPECT_EQ(StoredUserHalf(1), before);
    EXPECT_EQ(host::OpenKeyCount(), 0u);
  }
}

// The write takes the scheme's own name and description (Windows requires a name): the scheme
// keeps them, whatever else the commit changes.
TEST_F(CommitTest, TheSchemeKeepsItsNameAndDescription) {
  host::WriteString(HKEY_CURRENT_USER, scheme_store::UserKey(0), "Name", "Home/Office Desk");
  host::WriteString(HKEY_CURRENT_USER, scheme_store::UserKey(0), "Description",
                    "This scheme is suited to most home or desktop computers.");
  SchemeProbe scheme(0);
  Edit(scheme);

  EXPECT_FALSE(scheme.commit());
  EXPECT_EQ(ValueBytes(HKEY_CURRENT_USER, scheme_store::UserKey(0), "Name"),
            std::string("Home/Office Desk", 17));
  EXPECT_EQ(ValueBytes(HKEY_CURRENT_USER, scheme_store::UserKey(0), "Description"),
            std::string("This scheme is suited to most home or desktop computers.", 57));
  EXPECT_EQ(StoredUserHalf(0), BytesOf(scheme.Policy().user));
  EXPECT_EQ(Active(), 0u);
}

// Without the scheme's name nothing is written: the enumeration failed before it came to the
// scheme, or did not list it.
TEST_F(CommitTest, ASchemeWhoseNameCannotBeHadIsNotWritten) {
  const struct {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"enumeration failed",
       [] { host::FailCall(host::gated::EnumPwrSchemes, 1, ERROR_ACCESS_DENIED); }},
      {"scheme not listed",
       [] { host::DeleteKeyTree(HKEY_CURRENT_USER, scheme_store::UserKey(0)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    scheme_store::Seed(0, scheme_store::DistinctPolicy());
    SchemeProbe scheme(0);
    Edit(scheme);
    c.arrange();
    const std::string before = scheme_store::ExportStore();
    host::ClearCalls();

    EXPECT_TRUE(scheme.commit());
    EXPECT_EQ(scheme.GetErrorText(), kWriteFailed + kSuffix);
    EXPECT_EQ(host::CallCount(host::gated::WritePwrScheme), 0u);
    EXPECT_EQ(host::CallCount(host::gated::SetActivePwrScheme), 0u);
    EXPECT_EQ(scheme_store::ExportStore(), before);
    EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 2u);
  }
}

TEST_F(CommitTest, FailedWriteSkipsActivation) {
  SchemeProbe scheme(0);
  Edit(scheme);
  const std::vector<uint8_t> stored = StoredUserHalf(0);
  host::FailCall(host::gated::WritePwrScheme, 1, ERROR_ACCESS_DENIED);
  host::ClearCalls();

  EXPECT_TRUE(scheme.commit());
  EXPECT_EQ(scheme.GetErrorText(), kWriteFailed + kSuffix);
  EXPECT_EQ(host::CallCount(host::gated::SetActivePwrScheme), 0u);
  EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 2u);
  EXPECT_EQ(StoredUserHalf(0), stored);
  EXPECT_EQ(Active(), 1u);

  // The record is kept, so a later commit can try again.
  EXPECT_FALSE(scheme.commit());
  EXPECT_EQ(StoredUserHalf(0), BytesOf(scheme.Policy().user));
  EXPECT_EQ(Active(), 0u);
}

TEST_F(CommitTest, FailedActivationIsReported) {
  SchemeProbe scheme(0);
  Edit(scheme);
  host::FailCall(host::gated::SetActivePwrScheme, 1, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(scheme.commit());
  EXPECT_EQ(scheme.GetErrorText(), kActivateFailed + kSuffix);
  EXPECT_EQ(StoredUserHalf(0), BytesOf(scheme.Policy().user));
  EXPECT_EQ(Active(), 1u);
  EXPECT_EQ(Desktop("PowerOffActive"), "1");
}

// Whichever way the commit goes, the display's power-off phase is switched on and its
// time-out follows the mains monitor time-out in whole minutes.
struct CommitPath {
  const char* name;
  std::function<void(PwrScheme&)> arrange;
  bool failed;
};
struct VideoTimeOut {
  ULONG videoSeconds;
  const char* timeout;
};

const CommitPath kCommitPaths[] = {
    {"written", [](PwrScheme&) {}, false},
    {"write failed",
     [](PwrScheme&) { host::FailCall(host::gated::WritePwrScheme, 1, ERROR_ACCESS_DENIED); }, true},
    {"refused", [](PwrScheme&) { host::SetLimitedUser(true); }, true},
    {"override",
     [](PwrScheme& s) {
       host::SetLimitedUser(true);
       s.EnableSecurityBypass();
     },
     false},
};
const VideoTimeOut kVideoTimeOuts[] = {{119, "60"}, {59, "0"}, {0, "0"}, {1200, "1200"}};

class DisplaySettings : public CommitTest,
                        public ::testing::WithParamInterface<std::tuple<CommitPath, VideoTimeOut>> {
};

TEST_P(DisplaySettings, FollowTheAcVideoTimeOutOnEveryPath) {
  const CommitPath& p = std::get<0>(GetParam());
  const VideoTimeOut& v = std::get<1>(GetParam());
  POWER_POLICY policy = scheme_store::DistinctPolicy();
  policy.user.VideoTimeoutAc = v.videoSeconds;
  policy.user.VideoTimeoutDc = 1800;  // plays no part
  scheme_store::Seed(0, policy);
  PwrScheme scheme(0);
  p.arrange(scheme);
  host::ClearCalls();
  EXPECT_EQ(scheme.commit(), p.failed);
  EXPECT_EQ(host::CallCount(host::gated::SystemParametersInfoA), 2u);
  EXPECT_EQ(Desktop("PowerOffActive"), "1");
  EXPECT_EQ(Desktop("PowerOffTimeOut"), v.timeout);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DisplaySettings,
    ::testing::Combine(::testing::ValuesIn(kCommitPaths), ::testing::ValuesIn(kVideoTimeOuts)),
    [](const ::testing::TestParamInfo<std::tuple<CommitPath, VideoTimeOut>>& info) {
      std::string name = std::get<0>(info.param).name;
      for (char& c : name) {
        if (c == ' ') c = '_';
      }
      return name + "_" + std::to_string(std::get<1>(info.param).videoSeconds) + "s";
    });

}  // namespace

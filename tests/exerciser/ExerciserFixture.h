// Fixture of the exerciser tests: the six default schemes with scheme 0 active, the
// program's objects built afresh and the active scheme read as start-up reads it. The test
// is the user: it acts on the settings dialog through the host's dialog script.
#ifndef PM_TESTS_EXERCISERFIXTURE_H
#define PM_TESTS_EXERCISERFIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "Caskwell.h"
#include "HostControl.h"
#include "HostUiControl.h"
#include "resource.h"

// Thrown by the fatal-exit hook, so a test sees where the process would have ended.
struct ProcessEnded {};

class ExerciserTest : public ::testing::Test {
 protected:
  static constexpr const char* kUserPolicies = "Control Panel\\PowerCfg\\PowerPolicies\\0";
  static constexpr const char* kMachinePolicies =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\PowerPolicies\\0";

  void SetUp() override {
    host::Reset();
    host::ui::Reset();
    host::SetDebugEcho(false);
    std::string error;
    ASSERT_TRUE(host::ImportRegFile(PM_FIXTURES_DIR "/default-schemes.reg", &error)) << error;
    host::ui::SetFatalExitHook([](const host::ui::FatalExit&) { throw ProcessEnded{}; });
    host::ui::SetMessageBoxScript([](const host::ui::MessageBoxCall&) { return IDOK; });
    StartProgram();
    ASSERT_FALSE(powerScheme.initialiaze(powerManagement.GetPwrSchemeInUse()));
    host::ClearCalls();
  }

  // The program's static objects as the runtime builds them before WinMain, on the machine
  // as it is now (PwrMgmt reads the capabilities once, when it is built).
  static void StartProgram() {
    powerScheme.~PwrScheme();
    powerManagement.~PwrMgmt();
    new (&powerManagement) PwrMgmt();
    new (&powerScheme) PwrScheme();
  }

  // A machine without standby (S3) or without hibernation (S4); the program starts afresh
  // and reads the active scheme again.
  static void RunOnMachineWithout(BOOLEAN SYSTEM_POWER_CAPABILITIES::*state) {
    SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
    caps.*state = FALSE;
    host::SetCapabilities(caps);
    StartProgram();
    ASSERT_FALSE(powerScheme.initialiaze(powerManagement.GetPwrSchemeInUse()));
    host::ClearCalls();
  }

  // The stored halves of scheme 0, the active one.
  static USER_POWER_POLICY StoredUser() {
    USER_POWER_POLICY user{};
    host::RegValue value;
    EXPECT_TRUE(host::ReadValue(HKEY_CURRENT_USER, kUserPolicies, "Policies", &value));
    EXPECT_EQ(value.data.size(), sizeof user);
    if (value.data.size() == sizeof user) std::memcpy(&user, value.data.data(), sizeof user);
    return user;
  }
  static MACHINE_POWER_POLICY StoredMachine() {
    MACHINE_POWER_POLICY mach{};
    host::RegValue value;
    EXPECT_TRUE(host::ReadValue(HKEY_LOCAL_MACHINE, kMachinePolicies, "Policies", &value));
    EXPECT_EQ(value.data.size(), sizeof mach);
    if (value.data.size() == sizeof mach) std::memcpy(&mach, value.data.data(), sizeof mach);
    return mach;
  }

  // Changes the stored scheme 0 and reads it into the program's scheme again.
  static void StoreScheme(const std::function<void(POWER_POLICY&)>& change) {
    POWER_POLICY policy{StoredUser(), StoredMachine()};
    change(policy);
    const uint8_t* user = reinterpret_cast<const uint8_t*>(&policy.user);
    const uint8_t* mach = reinterpret_cast<const uint8_t*>(&policy.mach);
    host::WriteValue(HKEY_CURRENT_USER, kUserPolicies, "Policies", REG_BINARY,
                     std::vector<uint8_t>(user, user + sizeof policy.user));
    host::WriteValue(HKEY_LOCAL_MACHINE, kMachinePolicies, "Policies", REG_BINARY,
                     std::vector<uint8_t>(mach, mach + sizeof policy.mach));
    ASSERT_FALSE(powerScheme.initialiaze(0));
    host::ClearCalls();
  }

  // Opens the settings dialog as start-up does and lets `user` work in it; the dialog is
  // closed afterwards if the user left it open. Answers what DialogBoxParamA answered.
  static INT_PTR RunSettings(const std::function<void(HWND)>& user, HWND owner = nullptr) {
    host::ui::SetDialogScript([&user](const host::ui::DialogRun& run) {
      user(run.dialog);
      if (host::ui::IsDialogOpen(run.dialog)) host::ui::Click(run.dialog, IDCANCEL);
    });
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETTINGS), owner,
                           SettingsDialogProc, 0);
  }

  // The whole registry, to see that nothing at all was written.
  static std::string Registry() { return host::ExportRegText(); }
  // The scheme store alone (the display settings that every commit sets are elsewhere).
  static std::string SchemeStore() {
    return host::ExportRegText(HKEY_CURRENT_USER, "Control Panel\\PowerCfg") +
           host::ExportRegText(HKEY_LOCAL_MACHINE,
                               "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg");
  }
};

#endif

// Fixture of the exerciser tests: the six default schemes with scheme 0 active, the
// program's objects built afresh and the active scheme read as start-up reads it. The test
// is the user: it acts on the settings dialog through the host's dialog script.
#ifndef PM_TESTS_EXERCISERFIXTURE_H
#define PM_TESTS_EXERCISERFIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Caskwell.h"
#include "CaskwellControls.h"
#include "HostControl.h"
#include "HostSchemeStore.h"
#include "HostUiControl.h"
#include "PowerInterfaceProbe.h"

// Thrown by the fatal-exit hook, so a test sees where the process would have ended.
struct ProcessEnded {};

class ExerciserTest : public ::testing::Test {
 protected:
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
  // as it is now (PwrMgmt reads the capabilities once, when it is built): with the process's
  // default interface, or with the one a program on another machine would have chosen.
  static void StartProgram(std::shared_ptr<PowerInterface> power = DefaultPowerInterface()) {
    powerScheme.~PwrScheme();
    powerManagement.~PwrMgmt();
    new (&powerManagement) PwrMgmt(power);
    new (&powerScheme) PwrScheme(power);
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
  static USER_POWER_POLICY StoredUser() { return scheme_store::StoredScheme(0).user; }
  static MACHINE_POWER_POLICY StoredMachine() { return scheme_store::StoredScheme(0).mach; }

  // Changes the stored scheme 0 and reads it into the program's scheme again.
  static void StoreScheme(const std::function<void(POWER_POLICY&)>& change) {
    POWER_POLICY policy = scheme_store::StoredScheme(0);
    change(policy);
    scheme_store::StoreScheme(0, policy);
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
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(caskwell::kSettingsDialogId),
                           owner, SettingsDialogProc, 0);
  }

  // The whole registry, to see that nothing at all was written.
  static std::string Registry() { return host::ExportRegText(); }
  // The scheme store alone (the display settings that every commit sets are elsewhere).
  static std::string SchemeStore() { return scheme_store::ExportStore(); }
};

#endif

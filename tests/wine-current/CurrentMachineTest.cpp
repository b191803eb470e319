// The three programs on a machine of today (Windows Vista and later) under Wine: the current
// machine's stand-in powrprof.dll lies beside Dorvane_Tool.exe and Caskwell.exe and, for the
// service, in the system directory. The store holds Windows 10's three default plans, with
// Power saver active and named in the spelling a program of Windows might leave (braces, upper
// case), so that the stand-in's own spelling shows the activation. Each case checks the store
// value by value in seconds, the log, the backup key and the debug texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "CurrentSchemeStore.h"
#include "DebugMonitor.h"
#include "DialogUser.h"
#include "EventTrace.h"
#include "ExamplePolicy.h"
#include "Files.h"
#include "Programs.h"
#include "Registry.h"
#include "Services.h"
#include "SettingsLayout.h"
#include "Win32Api.h"

namespace {

using winetest::kPassBegins;
using winetest::kPassEnds;
using Texts = std::vector<std::string>;
using Values = std::vector<std::pair<std::string, DWORD>>;

using current_store::DefaultValueKey;
using current_store::kAcValue;
using current_store::kBalanced;
using current_store::kDcValue;
using current_store::kDiskIdle;
using current_store::kHibernateIdle;
using current_store::kPowerSaver;
using current_store::kSchemes;
using current_store::kStandbyIdle;
using current_store::kVideoIdle;
using current_store::OwnValueKey;
using current_store::Setting;

constexpr const char* kChosenCurrent = "Power scheme interface: current";

std::string LogPath() { return winetest::WindowsDir() + "\\Temp\\Dorvane.log"; }

// The example policy on Power saver (monitor 5/2, standby 15/10, hibernation 180/180, disk
// 20/5 minutes): everything but the disk changes; the battery disk policy is out of range.
Texts FirstPassLog(const char* user) {
  return {std::string("INFO: ") + user + " Video Timeout will be changed",
          "INFO: SetUserAcVideoTimeOut() Succeded",
          std::string("INFO: ") + user + " System Standby will be changed",
          "INFO: SetUserAcStandbyTimeOut() Succeded",
          "INFO: Machine Hibernation will be changed",
          "INFO: SetMachAcHibernateTimeOut() Succeded",
          "INFO: .Default User DC Video Timeout will be changed",
          "INFO: SetUserDcVideoTimeOut() Succeded",
          "INFO: .Default User DC System Standby will be changed",
          "INFO: SetUserDcStandbyTimeOut() Succeded",
          "INFO: .Default DC Machine Hibernation will be changed",
          "INFO: SetMachDcHibernateTimeOut() Succeded",
          "INFO: Commiting of Power Scheme() Succeded"};
}

// The backup key after the first pass: the plan as found, the policy, and what each change
// replaced. After a second pass the snapshot shows the plan as the first left it.
Values Backup(bool afterSecondPass) {
  const DWORD video[2] = {afterSecondPass ? 10u : 5u, afterSecondPass ? 5u : 2u};
  const DWORD standby[2] = {afterSecondPass ? 30u : 15u, afterSecondPass ? 15u : 10u};
  const DWORD hibernate[2] = {afterSecondPass ? 90u : 180u, afterSecondPass ? 60u : 180u};
  return {{"CurACUserVideoTimeout", video[0]},
          {"CurACUserStandbyTimeout", standby[0]},
          {"CurACMachHibernateTimeout", hibernate[0]},
          {"ACUserVideoTimeoutPolicy", 10},
          {"ACUserStandbyTimeoutPolicy", 30},
          {"ACMachHibernateTimeoutPolicy", 90},
          {"CurDCUserVideoTimeout", video[1]},
          {"CurDCUserStandbyTimeout", standby[1]},
          {"CurDCMachHibernateTimeout", hibernate[1]},
          {"DCUserVideoTimeoutPolicy", 5},
          {"DCUserStandbyTimeoutPolicy", 15},
          {"DCMachHibernateTimeoutPolicy", 60},
          {"ACUserMonIdleTime", 5},
          {"ACUserStandByIdleTime", 15},
          {"ACMachHibernateIdleTime", 180},
          {"DCUserMonIdleTime", 2},
          {"DCUserStandByIdleTime", 10},
          {"DCMachHibernateIdleTime", 180}};
}

class CurrentMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(monitor_.Listening());
    ASSERT_EQ("", winetest::RemoveService());
    ASSERT_EQ(ERROR_SUCCESS, winetest::DeleteTree(HKEY_LOCAL_MACHINE, kSchemes));
    for (const Setting& s : {kVideoIdle, kStandbyIdle, kDiskIdle}) {
      ASSERT_EQ(ERROR_SUCCESS,
                winetest::DeleteTree(HKEY_LOCAL_MACHINE, current_store::SubgroupKey(s)));
    }
    ASSERT_EQ("", winetest::SeedDefaultSchemesAndExamplePolicy());
    ASSERT_EQ("",
              winetest::ImportRegFile(PM_SOURCE_DIR "/tests/fixtures/current-default-schemes.reg"));
    ASSERT_EQ(ERROR_SUCCESS,
              winetest::SetText(HKEY_LOCAL_MACHINE, kSchemes, current_store::kActiveValue, REG_SZ,
                                "{A1841308-3541-4FAB-BC81-F71556F20B4A}"));
    ASSERT_TRUE(winetest::DeleteFileIfPresent(LogPath())) << GetLastError();
  }

  void TearDown() override { EXPECT_EQ("", winetest::RemoveService()); }

  winetest::ProgramRun RunTool(winetest::Where where) {
    winetest::ProgramRun run =
        winetest::RunProgram(winetest::ProgramDir() + "Dorvane_Tool.exe", {});
    if (!run.started || !run.ended || run.exitCode != 0) {
      ADD_FAILURE_AT(where.file, where.line)
          << "Dorvane_Tool.exe: started " << run.started << ", ended " << run.ended
          << ", exit status " << run.exitCode << "\n"
          << run.output;
    }
    return run;
  }

  // Power saver as the example policy leaves it, and nothing written to another plan.
  static void ExpectPlanEnforced(winetest::Where where) {
    const struct {
      const Setting& setting;
      DWORD ac, dc;
    } kWritten[] = {
        {kVideoIdle, 600, 300}, {kStandbyIdle, 1800, 900}, {kHibernateIdle, 5400, 3600}};
    for (const auto& w : kWritten) {
      winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, w.setting),
                            kAcValue, REG_DWORD, winetest::DwordBytes(w.ac));
      winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, w.setting),
                            kDcValue, REG_DWORD, winetest::DwordBytes(w.dc));
    }
    // The disk time-out was right already: not written; its defaults are as installed.
    winetest::ExpectNoKey(where, HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, kDiskIdle));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, DefaultValueKey(kPowerSaver, kDiskIdle),
                          kAcValue, REG_DWORD, winetest::DwordBytes(1200));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, DefaultValueKey(kPowerSaver, kHibernateIdle),
                          kAcValue, REG_DWORD, winetest::DwordBytes(10800));
    winetest::ExpectNoKey(where, HKEY_LOCAL_MACHINE,
                          current_store::SchemeKey(kBalanced) + "\\" + kVideoIdle.subgroup);
    // Activated again, in the stand-in's own spelling of the GUID.
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, kSchemes, current_store::kActiveValue, REG_SZ,
                          winetest::TextBytes(kPowerSaver));
  }

  winetest::DebugMonitor monitor_;
};

TEST_F(CurrentMachine, TheLogonToolEnforcesThePolicyOnTheActivePlanAndActivatesIt) {
  const winetest::ProgramRun run = RunTool(HERE);

  EXPECT_FILE_LINES(LogPath(), FirstPassLog("User"));
  EXPECT_REG_DWORDS_ONLY(HKEY_CURRENT_USER, winetest::kBackupKey, Backup(false));
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, winetest::kBackupKey);
  ExpectPlanEnforced(HERE);
  ASSERT_TRUE(monitor_.Settle());
  EXPECT_EQ(Texts{kChosenCurrent}, monitor_.TextsOf(run.processId));
}

TEST_F(CurrentMachine, ASecondLogonPassChangesNothing) {
  RunTool(HERE);
  RunTool(HERE);

  Texts log = FirstPassLog("User");
  log.push_back("INFO: No setting changed; Power Scheme not committed");
  EXPECT_FILE_LINES(LogPath(), log);
  EXPECT_REG_DWORDS_ONLY(HKEY_CURRENT_USER, winetest::kBackupKey, Backup(true));
  ExpectPlanEnforced(HERE);
}

// Two seconds after the start, the service's pass: the same plan, the default user's
// announcements, the machine's backup key, and the choice among its debug texts.
TEST_F(CurrentMachine, TheServicesFirstPassEnforcesThePolicyOnTheActivePlan) {
  const winetest::ProgramRun install =
      winetest::RunProgram(winetest::SystemDir() + "\\Hollin.exe", {"/Install"}, 30000);
  ASSERT_TRUE(install.ended && install.exitCode == 0) << install.exitCode;
  const winetest::ServiceState service = winetest::ExpectFirstPass(HERE, monitor_);
  ASSERT_FALSE(HasFailure());

  // The interface is chosen as the service starts, before its first pass.
  EXPECT_EQ((Texts{kChosenCurrent, kPassBegins, kChosenCurrent, kPassEnds}),
            monitor_.TextsOf(service.processId));
  EXPECT_FILE_LINES(LogPath(), FirstPassLog(".Default User"));
  EXPECT_REG_DWORDS_ONLY(HKEY_LOCAL_MACHINE, winetest::kBackupKey, Backup(false));
  EXPECT_NO_REG_KEY(HKEY_CURRENT_USER, winetest::kBackupKey);
  ExpectPlanEnforced(HERE);
}

// "Hollin /Status" reads the active plan through the current interface: before the logon pass
// it finds six settings to change (the mains disk time-out is right already), after it none.
TEST_F(CurrentMachine, TheStatusCommandJudgesTheActivePlanBeforeAndAfterALogonPass) {
  auto status = [](DWORD expected) {
    const winetest::ProgramRun run =
        winetest::RunProgram(winetest::SystemDir() + "\\Hollin.exe", {"/Status"});
    EXPECT_TRUE(run.ended && run.exitCode == expected) << run.exitCode << "\n" << run.output;
    return winetest::OutputLines(run.output);
  };

  const Texts before = status(1);
  RunTool(HERE);
  const Texts after = status(0);

  ASSERT_EQ(21u, before.size());
  ASSERT_EQ(21u, after.size());
  EXPECT_EQ("interface: current", before[2]);
  EXPECT_EQ("setting: DCMachHibernateIdleTime   policy=60          scheme=180        pass=change",
            before[14]);
  EXPECT_EQ("setting: ACUserHDDspindownIdleTime policy=20          scheme=20         pass=same",
            before[15]);
  EXPECT_EQ("result: differs", before[20]);
  EXPECT_EQ("setting: DCMachHibernateIdleTime   policy=60          scheme=60         pass=same",
            after[14]);
  EXPECT_EQ("result: complies", after[20]);
  // What Windows applies, in seconds: the plan as the pass left it.
  EXPECT_EQ("windows-applies-ac: video=600 sleep=1800 hibernate=5400 disk=1200", after[17]);
  EXPECT_EQ("windows-applies-dc: video=300 sleep=900 hibernate=3600 disk=300", after[18]);
  ExpectPlanEnforced(HERE);
}

// ---- The machines of today ----------------------------------------------------------------

// The stand-in's machine description: a desktop (S1, S3, S4 with its file, S5), changed by
// `change`, stored where both stand-in DLLs read it.
template <typename Change>
void DescribeMachine(Change change) {
  SYSTEM_POWER_CAPABILITIES caps;
  std::memset(&caps, 0, sizeof caps);
  caps.PowerButtonPresent = TRUE;
  caps.SystemS1 = TRUE;
  caps.SystemS3 = TRUE;
  caps.SystemS4 = TRUE;
  caps.SystemS5 = TRUE;
  caps.HiberFilePresent = TRUE;
  caps.DiskSpinDown = TRUE;
  change(caps);
  const auto* bytes = reinterpret_cast<const BYTE*>(&caps);
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetValue(HKEY_LOCAL_MACHINE,
                               "Software\\Microsoft\\Windows\\CurrentVersion\\Controls "
                               "Folder\\PowerCfg",
                               "StandInCapabilities", REG_BINARY,
                               winetest::Bytes(bytes, bytes + sizeof caps)));
}

class TodaysMachines : public CurrentMachine {
 protected:
  void TearDown() override {
    winetest::DeleteValue(HKEY_LOCAL_MACHINE,
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Controls "
                          "Folder\\PowerCfg",
                          "StandInCapabilities");
    winetest::DeleteTree(HKEY_LOCAL_MACHINE, current_store::kPolicyPower);
    CurrentMachine::TearDown();
  }

  static winetest::ProgramRun Status() {
    return winetest::RunProgram(winetest::SystemDir() + "\\Hollin.exe", {"/Status"});
  }
};

// A laptop with Modern Standby (S0 low-power idle, no S3) gets its standby time-outs without
// the forced standby.
TEST_F(TodaysMachines, AModernStandbyLaptopGetsItsStandbyTimeOuts) {
  DescribeMachine([](SYSTEM_POWER_CAPABILITIES& caps) {
    caps.SystemS1 = FALSE;
    caps.SystemS3 = FALSE;
    caps.LidPresent = TRUE;
    caps.SystemBatteriesPresent = TRUE;
    SetCapabilitiesAoAc(caps, TRUE);
  });
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetDword(HKEY_LOCAL_MACHINE, winetest::kOptionsKey, "ForceStandby", 0));

  RunTool(HERE);

  EXPECT_FILE_LINES(LogPath(), FirstPassLog("User"));
  ExpectPlanEnforced(HERE);
  const winetest::ProgramRun status = Status();
  EXPECT_EQ(0u, status.exitCode) << status.output;
}

// A setting Windows' own power policy holds at another value is left alone, with an error line
// and warning 3000, while the rest is enforced; "Hollin /Status" answers 3.
TEST_F(TodaysMachines, ASettingHeldByWindowsPolicyIsLeftAloneAndTheRestEnforced) {
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetDword(HKEY_LOCAL_MACHINE, current_store::PolicyKey(kStandbyIdle), kAcValue,
                               1200));
  char user[257];
  DWORD size = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &size));
  const winetest::WithEventTrace trace;
  const size_t start = winetest::StderrLog().size();

  const winetest::ProgramRun run = RunTool(HERE);

  Texts log = FirstPassLog("User");
  log[2] =
      "ERROR: ACUserStandByIdleTime is held by Windows' own power policy at 20 minutes; this "
      "policy asks for 30 minutes, which only Windows' policy can set";
  log.erase(log.begin() + 3);
  EXPECT_FILE_LINES(LogPath(), log);
  // Never written, nor tried: the plan's own value is not there.
  EXPECT_NO_REG_VALUE(HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, kStandbyIdle), kAcValue);
  winetest::ExpectValue(HERE, HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, kStandbyIdle), kDcValue,
                        REG_DWORD, winetest::DwordBytes(900));
  winetest::ExpectValue(HERE, HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, kVideoIdle), kAcValue,
                        REG_DWORD, winetest::DwordBytes(600));
  const std::string trace_ = winetest::StderrLog();
  const Texts events = winetest::Describe(winetest::EventsOf(
      winetest::ParseEventTrace(trace_.substr(std::min(start, trace_.size()))), run.processId));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(winetest::Expected(pm_events::kSettingHeldByWindowsPolicy,
                               {"logon tool", user, "ACUserStandByIdleTime", "20", "30"}),
            events.front());

  const winetest::ProgramRun status = Status();
  EXPECT_EQ(3u, status.exitCode) << status.output;
  const Texts report = winetest::OutputLines(status.output);
  ASSERT_EQ(21u, report.size()) << status.output;
  EXPECT_EQ(
      "setting: ACUserStandByIdleTime     policy=30          scheme=15         "
      "pass=held-elsewhere windows-policy=1200s",
      report[10]);
  EXPECT_EQ("windows-applies-ac: video=600 sleep=1200 hibernate=5400 disk=1200", report[17]);
  EXPECT_EQ("result: held-by-windows-policy", report[20]);
}

// A plan chosen by Windows' own policy: its settings are enforced, without an error.
TEST_F(TodaysMachines, APlanChosenByWindowsPolicyIsEnforced) {
  ASSERT_EQ(ERROR_SUCCESS, winetest::SetText(HKEY_LOCAL_MACHINE, current_store::kPolicySettings,
                                             current_store::kActiveValue, REG_SZ, kPowerSaver));

  RunTool(HERE);

  EXPECT_FILE_LINES(LogPath(), FirstPassLog("User"));
  ExpectPlanEnforced(HERE);
  const winetest::ProgramRun status = Status();
  EXPECT_EQ(0u, status.exitCode) << status.output;
}

// "Never" for hibernation on a machine that cannot hibernate is so already: no error, and the
// machine complies.
TEST_F(TodaysMachines, HibernationNeverOnAMachineWithoutItLogsNoErrorAndComplies) {
  DescribeMachine([](SYSTEM_POWER_CAPABILITIES& caps) {
    caps.SystemS4 = FALSE;
    caps.HiberFilePresent = FALSE;
  });
  for (const char* value : {"ACMachHibernateIdleTime", "DCMachHibernateIdleTime"}) {
    ASSERT_EQ(ERROR_SUCCESS,
              winetest::SetDword(HKEY_LOCAL_MACHINE,
                                 std::string(winetest::kGroupPolicyKey) + "\\Simple", value, 0));
  }

  RunTool(HERE);

  Texts log = FirstPassLog("User");
  log.erase(log.begin() + 10, log.begin() + 12);
  log.erase(log.begin() + 4, log.begin() + 6);
  EXPECT_FILE_LINES(LogPath(), log);
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, kHibernateIdle));
  const winetest::ProgramRun status = Status();
  EXPECT_EQ(0u, status.exitCode) << status.output;
  EXPECT_NE(std::string::npos,
            status.output.find("policy=0           scheme=180        pass=no-such-state"))
      << status.output;
}

// Caskwell's four rows on the active plan: a plan has one standby time-out, which both standby
// rows show and set, and hibernation shows the total it stores.
TEST_F(CurrentMachine, CaskwellsFourRowsShowAndSetTheActivePlan) {
  using caskwell::kMachineHibernation;
  using caskwell::kMachineStandby;
  using caskwell::kUserMonitor;
  using caskwell::kUserStandby;
  winetest::RunningProgram caskwell;
  ASSERT_TRUE(caskwell.Start(winetest::ProgramDir() + "Caskwell.exe", {})) << caskwell.startError();
  HWND dialog = winetest::FindDialog(caskwell::kCaption, 30000);
  ASSERT_NE(nullptr, dialog);
  ASSERT_TRUE(caskwell.WaitUntilIdle(10000));
  auto get = [&](const caskwell::Row& row) {
    winetest::Click(HERE, dialog, row.get);
    return winetest::ItemText(dialog, row.display);
  };
  auto set = [&](const caskwell::Row& row, const char* minutes) {
    winetest::Type(dialog, row.entry, minutes);
    winetest::Click(HERE, dialog, row.set);
  };
  auto own = [](const Setting& s) {
    return winetest::QueryValue(HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, s), kAcValue).data;
  };

  EXPECT_EQ("5", get(kUserMonitor));
  EXPECT_EQ("15", get(kUserStandby));
  EXPECT_EQ("15", get(kMachineStandby));
  EXPECT_EQ("180", get(kMachineHibernation));

  set(kUserMonitor, "9");
  EXPECT_EQ(winetest::DwordBytes(540), own(kVideoIdle));
  set(kUserStandby, "12");
  EXPECT_EQ(winetest::DwordBytes(720), own(kStandbyIdle));
  EXPECT_EQ("12", get(kMachineStandby));
  set(kMachineStandby, "14");
  EXPECT_EQ(winetest::DwordBytes(840), own(kStandbyIdle));
  EXPECT_EQ("14", get(kUserStandby));
  set(kMachineHibernation, "40");
  EXPECT_EQ(winetest::DwordBytes(2400), own(kHibernateIdle));
  EXPECT_EQ("40", get(kMachineHibernation));
  // The rows are the mains values: the battery ones keep their defaults.
  EXPECT_NO_REG_VALUE(HKEY_LOCAL_MACHINE, OwnValueKey(kPowerSaver, kVideoIdle), kDcValue);

  ASSERT_TRUE(winetest::CloseWith(dialog, IDCANCEL, 10000));
  DWORD status = 1;
  ASSERT_TRUE(caskwell.Wait(30000, &status));
  EXPECT_EQ(0u, status);
  ASSERT_TRUE(monitor_.Settle());
  EXPECT_EQ(Texts{kChosenCurrent}, monitor_.TextsOf(caskwell.processId()));
}

}  // namespace

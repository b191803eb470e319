// The three programs on a machine of today (Windows Vista and later) under Wine: the current
// machine's stand-in powrprof.dll lies beside Dorvane_Tool.exe and Caskwell.exe and, for the
// service, in the system directory. The store holds Windows 10's three default plans, with
// Power saver active and named in the spelling a program of Windows might leave (braces, upper
// case), so that the stand-in's own spelling shows the activation. Each case checks the store
// value by value in seconds, the log, the backup key and the debug texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "DebugMonitor.h"
#include "DialogUser.h"
#include "ExamplePolicy.h"
#include "Files.h"
#include "Programs.h"
#include "Registry.h"
#include "Services.h"
#include "SettingsLayout.h"

namespace {

using winetest::kPassBegins;
using winetest::kPassEnds;
using Texts = std::vector<std::string>;
using Values = std::vector<std::pair<std::string, DWORD>>;

constexpr const char* kPower = "SYSTEM\\CurrentControlSet\\Control\\Power";
constexpr const char* kSchemes = "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr const char* kPowerSaver = "a1841308-3541-4fab-bc81-f71556f20b4a";
constexpr const char* kBalanced = "381b4222-f694-41f0-9685-ff5bb260df2e";
constexpr const char* kChosenCurrent = "Power scheme interface: current";

struct Setting {
  const char* subgroup;
  const char* setting;
};
constexpr Setting kDisplayOff = {"7516b95f-f776-4464-8c53-06167f40cc99",
                                 "3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e"};
constexpr Setting kSleepAfter = {"238c9fa8-0aad-41ed-83f4-97be242c8f20",
                                 "29f6c1db-86da-48c5-9fdb-f2b67b1f44da"};
constexpr Setting kHibernateAfter = {"238c9fa8-0aad-41ed-83f4-97be242c8f20",
                                     "9d7815a6-7ee4-497e-8888-515a05f02364"};
constexpr Setting kDiskOff = {"0012ee47-9041-4b5d-9b77-535fba8b1442",
                              "6738e2c4-e8a5-4a42-b16a-e040e769756e"};

// The key of the values a plan sets itself, and of the defaults it has until then.
std::string OwnKey(const char* plan, const Setting& s) {
  return std::string(kSchemes) + "\\" + plan + "\\" + s.subgroup + "\\" + s.setting;
}
std::string DefaultKey(const char* plan, const Setting& s) {
  return std::string(kPower) + "\\PowerSettings\\" + s.subgroup + "\\" + s.setting +
         "\\DefaultPowerSchemeValues\\" + plan;
}

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
    for (const Setting& s : {kDisplayOff, kSleepAfter, kDiskOff}) {
      ASSERT_EQ(ERROR_SUCCESS,
                winetest::DeleteTree(HKEY_LOCAL_MACHINE,
                                     std::string(kPower) + "\\PowerSettings\\" + s.subgroup));
    }
    ASSERT_EQ("", winetest::SeedDefaultSchemesAndExamplePolicy());
    ASSERT_EQ("",
              winetest::ImportRegFile(PM_SOURCE_DIR "/tests/fixtures/current-default-schemes.reg"));
    ASSERT_EQ(ERROR_SUCCESS, winetest::SetText(HKEY_LOCAL_MACHINE, kSchemes, "ActivePowerScheme",
                                               REG_SZ, "{A1841308-3541-4FAB-BC81-F71556F20B4A}"));
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
        {kDisplayOff, 600, 300}, {kSleepAfter, 1800, 900}, {kHibernateAfter, 5400, 3600}};
    for (const auto& w : kWritten) {
      winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, OwnKey(kPowerSaver, w.setting),
                            "ACSettingIndex", REG_DWORD, winetest::DwordBytes(w.ac));
      winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, OwnKey(kPowerSaver, w.setting),
                            "DCSettingIndex", REG_DWORD, winetest::DwordBytes(w.dc));
    }
    // The disk time-out was right already: not written; its defaults are as installed.
    winetest::ExpectNoKey(where, HKEY_LOCAL_MACHINE, OwnKey(kPowerSaver, kDiskOff));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, DefaultKey(kPowerSaver, kDiskOff),
                          "ACSettingIndex", REG_DWORD, winetest::DwordBytes(1200));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, DefaultKey(kPowerSaver, kHibernateAfter),
                          "ACSettingIndex", REG_DWORD, winetest::DwordBytes(10800));
    winetest::ExpectNoKey(where, HKEY_LOCAL_MACHINE,
                          std::string(kSchemes) + "\\" + kBalanced + "\\" + kDisplayOff.subgroup);
    // Activated again, in the stand-in's own spelling of the GUID.
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, kSchemes, "ActivePowerScheme", REG_SZ,
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
  log.push_back("INFO: Commiting of Power Scheme() Succeded");
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
  const winetest::ServiceState service = winetest::WaitForState(SERVICE_RUNNING, 5000);
  ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service.state);
  ASSERT_TRUE(monitor_.WaitFor(service.processId, kPassEnds, winetest::kFirstPassTimeoutMs))
      << "no first pass";

  EXPECT_EQ((Texts{kPassBegins, kChosenCurrent, kPassEnds}), monitor_.TextsOf(service.processId));
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

  ASSERT_EQ(18u, before.size());
  ASSERT_EQ(18u, after.size());
  EXPECT_EQ("interface: current", before[2]);
  EXPECT_EQ("setting: DCMachHibernateIdleTime   policy=60          scheme=180        pass=change",
            before[14]);
  EXPECT_EQ("setting: ACUserHDDspindownIdleTime policy=20          scheme=20         pass=same",
            before[15]);
  EXPECT_EQ("result: differs", before[17]);
  EXPECT_EQ("setting: DCMachHibernateIdleTime   policy=60          scheme=60         pass=same",
            after[14]);
  EXPECT_EQ("result: complies", after[17]);
  ExpectPlanEnforced(HERE);
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
    return winetest::QueryValue(HKEY_LOCAL_MACHINE, OwnKey(kPowerSaver, s), "ACSettingIndex").data;
  };

  EXPECT_EQ("5", get(kUserMonitor));
  EXPECT_EQ("15", get(kUserStandby));
  EXPECT_EQ("15", get(kMachineStandby));
  EXPECT_EQ("180", get(kMachineHibernation));

  set(kUserMonitor, "9");
  EXPECT_EQ(winetest::DwordBytes(540), own(kDisplayOff));
  set(kUserStandby, "12");
  EXPECT_EQ(winetest::DwordBytes(720), own(kSleepAfter));
  EXPECT_EQ("12", get(kMachineStandby));
  set(kMachineStandby, "14");
  EXPECT_EQ(winetest::DwordBytes(840), own(kSleepAfter));
  EXPECT_EQ("14", get(kUserStandby));
  set(kMachineHibernation, "40");
  EXPECT_EQ(winetest::DwordBytes(2400), own(kHibernateAfter));
  EXPECT_EQ("40", get(kMachineHibernation));
  // The rows are the mains values: the battery ones keep their defaults.
  EXPECT_NO_REG_VALUE(HKEY_LOCAL_MACHINE, OwnKey(kPowerSaver, kDisplayOff), "DCSettingIndex");

  ASSERT_TRUE(winetest::CloseWith(dialog, IDCANCEL, 10000));
  DWORD status = 1;
  ASSERT_TRUE(caskwell.Wait(30000, &status));
  EXPECT_EQ(0u, status);
  ASSERT_TRUE(monitor_.Settle());
  EXPECT_EQ(Texts{kChosenCurrent}, monitor_.TextsOf(caskwell.processId()));
}

}  // namespace

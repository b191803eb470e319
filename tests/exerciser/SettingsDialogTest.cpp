// The settings dialog: its procedure driven through the host's modal dialog with the test
// as the user, checked against the dialog's items, the message boxes and the scheme store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExerciserFixture.h"

namespace {

using caskwell::kAllowUnprivileged;
using caskwell::kForceStandby;
using caskwell::kMachineHibernation;
using caskwell::kMachineStandby;
using caskwell::kRows;
using caskwell::kUserMonitor;
using caskwell::kUserStandby;
using RowIds = caskwell::Row;

constexpr const char* kNotWholeMinutes =
    "The new time-out must be a whole number of minutes from 0 to 4294967295.";
constexpr const char* kNoStandby =
    "PwrScheme::SetUserAcStandbyTimeOut(): System is not capable of Power Suspend->System Error: ";
constexpr const char* kNoPrivileges =
    "PwrScheme::commit(): Current User has insufficient priviledges to write active power scheme "
    "and no override has been set.->System Error: ";

using SettingsDialogTest = ExerciserTest;

// Opening shows the initial entries, empty displays, cleared boxes; the flags follow the
// boxes, whatever an earlier opening left them at.
TEST_F(SettingsDialogTest, OpensWithInitialEntriesAndBothFlagsOff) {
  RunOnMachineWithout(&SYSTEM_POWER_CAPABILITIES::SystemS3);
  host::SetLimitedUser(true);
  powerScheme.EnableForceStandby();
  powerScheme.EnableSecurityBypass();

  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE("opening " + std::to_string(opening + 1));
    host::ui::Reset();
    host::ui::SetMessageBoxScript([](const host::ui::MessageBoxCall&) { return IDOK; });
    const std::string before = SchemeStore();
    EXPECT_EQ(2, RunSettings([](HWND dialog) {
                EXPECT_EQ("5", host::ui::ItemText(dialog, kUserMonitor.entry));
                EXPECT_EQ("10", host::ui::ItemText(dialog, kUserStandby.entry));
                EXPECT_EQ("15", host::ui::ItemText(dialog, kMachineStandby.entry));
                EXPECT_EQ("20", host::ui::ItemText(dialog, kMachineHibernation.entry));
                for (const RowIds& row : kRows)
                  EXPECT_EQ("", host::ui::ItemText(dialog, row.display));
                EXPECT_EQ(BST_UNCHECKED, host::ui::ItemCheck(dialog, kAllowUnprivileged));
                EXPECT_EQ(BST_UNCHECKED, host::ui::ItemCheck(dialog, kForceStandby));

                // Force standby is off: no standby without S3. Security bypass is off: the limited
                // user's commit is refused.
                EXPECT_EQ(FALSE, host::ui::Click(dialog, kUserStandby.set));
                EXPECT_EQ(FALSE, host::ui::Click(dialog, kUserMonitor.set));

                // Left ticked for the next opening, which must clear them again.
                host::ui::Tick(dialog, kAllowUnprivileged);
                host::ui::Tick(dialog, kForceStandby);
              }));
    auto boxes = host::ui::MessageBoxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(kUserStandby.errorCaption, boxes[0].caption);
    EXPECT_EQ(kNoStandby, boxes[0].text);
    EXPECT_EQ(kUserMonitor.errorCaption, boxes[1].caption);
    EXPECT_EQ(kNoPrivileges, boxes[1].text);
    EXPECT_EQ(before, SchemeStore());
  }
}

struct GetCase {
  RowIds row;
  std::function<void(POWER_POLICY&)> store;
  const char* shown;
};

TEST_F(SettingsDialogTest, GetShowsTheRowInWholeMinutesAndWritesNothing) {
  const std::vector<GetCase> cases = {
      {kUserMonitor, [](POWER_POLICY& p) { p.user.VideoTimeoutAc = 600; }, "10"},
      {kUserMonitor, [](POWER_POLICY& p) { p.user.VideoTimeoutAc = 119; }, "1"},
      {kUserStandby, [](POWER_POLICY& p) { p.user.IdleTimeoutAc = 1250; }, "20"},
      // With a hibernation delay, so that the machine standby row cannot pass for the
      // hibernation row.
      {kMachineStandby,
       [](POWER_POLICY& p) {
         p.mach.DozeTimeoutAc = 900;
         p.mach.DozeS4TimeoutAc = 600;
       },
       "15"},
      // User standby plus the hibernation delay, each truncated first; the machine standby
      // time-out plays no part.
      {kMachineHibernation,
       [](POWER_POLICY& p) {
         p.user.IdleTimeoutAc = 359;
         p.mach.DozeTimeoutAc = 900;
         p.mach.DozeS4TimeoutAc = 1199;
       },
       "24"},
  };
  for (const GetCase& c : cases) {
    SCOPED_TRACE(std::string(c.row.name) + " shows " + c.shown);
    StoreScheme(c.store);
    const std::string before = Registry();
    RunSettings([&c](HWND dialog) {
      EXPECT_EQ(TRUE, host::ui::Click(dialog, c.row.get));
      EXPECT_EQ(c.shown, host::ui::ItemText(dialog, c.row.display));
    });
    EXPECT_TRUE(host::ui::MessageBoxes().empty());
    EXPECT_EQ(0u, host::CallCount(host::gated::WritePwrScheme));
    EXPECT_EQ(0u, host::CallCount(host::gated::SystemParametersInfoA));
    EXPECT_EQ(before, Registry());
  }
}

struct SetCase {
  RowIds row;
  const char* typed;
  DWORD shownAfter;  // what "Get" shows once the change is stored
  std::function<void(const USER_POWER_POLICY&, const MACHINE_POWER_POLICY&)> check;
};

// The fixture's active scheme has standby, machine standby and hibernation at 0 and the
// monitor at 20 minutes.
class SetRow : public ExerciserTest, public ::testing::WithParamInterface<SetCase> {};

const SetCase kSetCases[] = {
    {kUserMonitor, "7", 7,
     [](const USER_POWER_POLICY& u, const MACHINE_POWER_POLICY&) {
       EXPECT_EQ(420u, u.VideoTimeoutAc);
     }},
    {kUserMonitor, "  9 ", 9,
     [](const USER_POWER_POLICY& u, const MACHINE_POWER_POLICY&) {
       EXPECT_EQ(540u, u.VideoTimeoutAc);
     }},
    // The largest entry: the seconds wrap around in 32 bits, as the library defines.
    {kUserMonitor, "4294967295", 4294967236u / 60,
     [](const USER_POWER_POLICY& u, const MACHINE_POWER_POLICY&) {
       EXPECT_EQ(4294967236u, u.VideoTimeoutAc);
     }},
    {kUserMonitor, "0", 0,
     [](const USER_POWER_POLICY& u, const MACHINE_POWER_POLICY&) {
       EXPECT_EQ(0u, u.VideoTimeoutAc);
     }},
    {kUserStandby, "3", 3,
     [](const USER_POWER_POLICY& u, const MACHINE_POWER_POLICY&) {
       EXPECT_EQ(180u, u.IdleTimeoutAc);
       EXPECT_EQ(PowerActionSleep, u.IdleAc.Action);
     }},
    {kMachineStandby, "12", 12,
     [](const USER_POWER_POLICY&, const MACHINE_POWER_POLICY& m) {
       EXPECT_EQ(720u, m.DozeTimeoutAc);
     }},
    {kMachineHibernation, "30", 30,
     [](const USER_POWER_POLICY&, const MACHINE_POWER_POLICY& m) {
       EXPECT_EQ(1800u, m.DozeS4TimeoutAc);
     }},
};

TEST_P(SetRow, AppliesTheEntryAndCommitsItToTheStore) {
  const SetCase& c = GetParam();
  SCOPED_TRACE(std::string(c.row.name) + " set to '" + c.typed + "'");
  std::string shownBefore;
  RunSettings([&](HWND dialog) {
    host::ui::Click(dialog, c.row.get);
    shownBefore = host::ui::ItemText(dialog, c.row.display);
    host::ui::Type(dialog, c.row.entry, c.typed);
    EXPECT_EQ(TRUE, host::ui::Click(dialog, c.row.set));
    // The display keeps its value until "Get" is pressed again.
    EXPECT_EQ(shownBefore, host::ui::ItemText(dialog, c.row.display));
    host::ui::Click(dialog, c.row.get);
    EXPECT_EQ(std::to_string(c.shownAfter), host::ui::ItemText(dialog, c.row.display));
  });
  EXPECT_TRUE(host::ui::MessageBoxes().empty());
  EXPECT_EQ(1u, host::CallCount(host::gated::WritePwrScheme));
  EXPECT_EQ(1u, host::CallCount(host::gated::SetActivePwrScheme));
  c.check(StoredUser(), StoredMachine());
}

INSTANTIATE_TEST_SUITE_P(Rows, SetRow, ::testing::ValuesIn(kSetCases),
                         [](const ::testing::TestParamInfo<SetCase>& info) {
                           std::string name = info.param.row.name;
                           for (char& ch : name) {
                             if (ch == ' ') ch = '_';
                           }
                           return name + "_" + std::to_string(info.index);
                         });

struct RefusalCase {
  RowIds row;
  BOOLEAN SYSTEM_POWER_CAPABILITIES::*missing;
  const char* text;
};

class RefusedSetter : public ExerciserTest, public ::testing::WithParamInterface<RefusalCase> {};

const RefusalCase kRefusals[] = {
    {kUserStandby, &SYSTEM_POWER_CAPABILITIES::SystemS3, kNoStandby},
    {kMachineStandby, &SYSTEM_POWER_CAPABILITIES::SystemS3,
     "PwrScheme::SetMachAcStandbyTimeOut(): System is not capable of Power Suspend in Sleep "
     "State S3.->System Error: "},
    {kMachineHibernation, &SYSTEM_POWER_CAPABILITIES::SystemS4,
     "PwrScheme::SetMachAcHibernateTimeOut(): System/user account is not capable of/configured "
     "for Hibernation->System Error: "},
};

TEST_P(RefusedSetter, ShowsTheLibraryTextAndCommitsNothing) {
  const RefusalCase& c = GetParam();
  SCOPED_TRACE(c.row.name);
  RunOnMachineWithout(c.missing);
  const std::string before = Registry();
  RunSettings([&c](HWND dialog) { EXPECT_EQ(FALSE, host::ui::Click(dialog, c.row.set)); });
  auto boxes = host::ui::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(nullptr, boxes[0].owner);
  EXPECT_EQ(c.row.errorCaption, boxes[0].caption);
  EXPECT_EQ(c.text, boxes[0].text);
  EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[0].type);
  EXPECT_EQ(0u, host::CallCount(host::gated::WritePwrScheme));
  EXPECT_EQ(before, Registry());
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedSetter, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) {
                           std::string name = info.param.row.name;
                           for (char& ch : name) {
                             if (ch == ' ') ch = '_';
                           }
                           return name + "_" + std::to_string(info.index);
                         });

TEST_F(SettingsDialogTest, ForceSystemStandbyLetsTheStandbyRowsApplyWithoutS3) {
  RunOnMachineWithout(&SYSTEM_POWER_CAPABILITIES::SystemS3);
  RunSettings([](HWND dialog) {
    const std::string before = Registry();
    EXPECT_EQ(TRUE, host::ui::Tick(dialog, kForceStandby));
    // Ticking only sets the flag.
    EXPECT_EQ(before, Registry());
    host::ui::Type(dialog, kUserStandby.entry, "25");
    EXPECT_EQ(TRUE, host::ui::Click(dialog, kUserStandby.set));
    host::ui::Type(dialog, kMachineStandby.entry, "40");
    EXPECT_EQ(TRUE, host::ui::Click(dialog, kMachineStandby.set));
    EXPECT_TRUE(host::ui::MessageBoxes().empty());

    // Cleared again, or in any state but ticked, the refusal is back.
    host::ui::Tick(dialog, kForceStandby);
    host::ui::Type(dialog, kUserStandby.entry, "50");
    EXPECT_EQ(FALSE, host::ui::Click(dialog, kUserStandby.set));
    CheckDlgButton(dialog, kForceStandby, BST_INDETERMINATE);
    host::ui::Click(dialog, kForceStandby);
    EXPECT_EQ(FALSE, host::ui::Click(dialog, kUserStandby.set));
  });
  EXPECT_EQ(1500u, StoredUser().IdleTimeoutAc);
  EXPECT_EQ(2400u, StoredMachine().DozeTimeoutAc);
  auto boxes = host::ui::MessageBoxes();
  ASSERT_EQ(2u, boxes.size());
  for (const auto& box : boxes) EXPECT_EQ(kNoStandby, box.text);
}

TEST_F(SettingsDialogTest, AllowUnprivilegedUserWritesTheUsersOverride) {
  host::SetLimitedUser(true);
  const MACHINE_POWER_POLICY machineBefore = StoredMachine();
  RunSettings([](HWND dialog) {
    host::ui::Type(dialog, kUserMonitor.entry, "7");
    EXPECT_EQ(FALSE, host::ui::Click(dialog, kUserMonitor.set));
    EXPECT_EQ(1200u, StoredUser().VideoTimeoutAc);

    EXPECT_EQ(TRUE, host::ui::Tick(dialog, kAllowUnprivileged));
    EXPECT_EQ(TRUE, host::ui::Click(dialog, kUserMonitor.set));

    // Cleared again, the refusal is back.
    host::ui::Tick(dialog, kAllowUnprivileged);
    host::ui::Type(dialog, kUserMonitor.entry, "8");
    EXPECT_EQ(FALSE, host::ui::Click(dialog, kUserMonitor.set));
  });
  auto boxes = host::ui::MessageBoxes();
  ASSERT_EQ(2u, boxes.size());
  for (const auto& box : boxes) {
    EXPECT_EQ(kUserMonitor.errorCaption, box.caption);
    EXPECT_EQ(kNoPrivileges, box.text);
  }
  // The override writes the user half only, straight into the registry.
  EXPECT_EQ(420u, StoredUser().VideoTimeoutAc);
  const MACHINE_POWER_POLICY machineAfter = StoredMachine();
  EXPECT_EQ(0, std::memcmp(&machineBefore, &machineAfter, sizeof machineBefore));
  EXPECT_EQ(0u, host::CallCount(host::gated::WritePwrScheme));
}

struct CommitFailureCase {
  host::FailableFunction failing;
  const char* text;
};

class FailedCommit : public ExerciserTest,
                     public ::testing::WithParamInterface<CommitFailureCase> {};

const CommitFailureCase kCommitFailures[] = {
    {host::gated::WritePwrScheme,
     "PwrScheme::commit() failed. Unable to Write PowerScheme->System Error: "},
    {host::gated::SetActivePwrScheme,
     "PwrScheme::commit() failed. Unable to Set Active PowerScheme->System Error: "},
};

TEST_P(FailedCommit, ShowsTheLibraryText) {
  const CommitFailureCase& c = GetParam();
  SCOPED_TRACE(c.failing.name);
  host::FailCall(c.failing, 1, ERROR_ACCESS_DENIED);
  RunSettings([](HWND dialog) {
    host::ui::Type(dialog, kMachineHibernation.entry, "45");
    EXPECT_EQ(FALSE, host::ui::Click(dialog, kMachineHibernation.set));
  });
  auto boxes = host::ui::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(nullptr, boxes[0].owner);
  EXPECT_EQ(kMachineHibernation.errorCaption, boxes[0].caption);
  EXPECT_EQ(c.text, boxes[0].text);
  EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[0].type);
}

INSTANTIATE_TEST_SUITE_P(Calls, FailedCommit, ::testing::ValuesIn(kCommitFailures),
                         [](const ::testing::TestParamInfo<CommitFailureCase>& info) {
                           return std::string(info.param.failing.name);
                         });

// Anything but blanks around decimal digits that fit in 32 bits applies nothing.
TEST_F(SettingsDialogTest, EntryThatIsNotWholeMinutesAppliesNothing) {
  const char* const texts[] = {
      "abc", "",    " ",    "-5",  "+5", "4294967296", "99999999999999999999",
      "12x", "1 2", "0x10", "1.5", "\t3"};
  const std::string before = Registry();
  for (const RowIds& row : kRows) {
    for (const char* text : texts) {
      SCOPED_TRACE(std::string(row.name) + " set to '" + text + "'");
      host::ui::Reset();
      host::ui::SetMessageBoxScript([](const host::ui::MessageBoxCall&) { return IDOK; });
      host::ClearCalls();
      RunSettings([&](HWND dialog) {
        host::ui::Type(dialog, row.entry, text);
        EXPECT_EQ(FALSE, host::ui::Click(dialog, row.set));
      });
      auto boxes = host::ui::MessageBoxes();
      ASSERT_EQ(1u, boxes.size());
      EXPECT_EQ(nullptr, boxes[0].owner);
      EXPECT_EQ(row.errorCaption, boxes[0].caption);
      EXPECT_EQ(kNotWholeMinutes, boxes[0].text);
      EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[0].type);
      EXPECT_EQ(0u, host::CallCount(host::gated::WritePwrScheme));
      EXPECT_EQ(0u, host::CallCount(host::gated::SystemParametersInfoA));
    }
  }
  EXPECT_EQ(before, Registry());
  EXPECT_EQ(20u, powerScheme.GetUserAcVideoTimeOut());
}

// The row applies the total after the user standby time-out and shows it back as applied,
// whatever the machine standby time-out; a total that does not come after standby is refused
// with the library's reason and nothing is stored.
TEST_F(SettingsDialogTest, HibernationRowShowsWhatItApplied) {
  StoreScheme([](POWER_POLICY& p) {
    p.user.IdleTimeoutAc = 600;
    p.mach.DozeTimeoutAc = 300;
  });
  RunSettings([](HWND dialog) {
    host::ui::Type(dialog, kMachineHibernation.entry, "30");
    EXPECT_EQ(TRUE, host::ui::Click(dialog, kMachineHibernation.set));
    host::ui::Click(dialog, kMachineHibernation.get);
    EXPECT_EQ("30", host::ui::ItemText(dialog, kMachineHibernation.display));

    host::ui::Type(dialog, kMachineHibernation.entry, "10");
    EXPECT_EQ(FALSE, host::ui::Click(dialog, kMachineHibernation.set));
    host::ui::Click(dialog, kMachineHibernation.get);
    EXPECT_EQ("30", host::ui::ItemText(dialog, kMachineHibernation.display));
  });
  EXPECT_EQ(1200u, StoredMachine().DozeS4TimeoutAc);
  auto boxes = host::ui::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(kMachineHibernation.errorCaption, boxes[0].caption);
  EXPECT_EQ(
      "PwrScheme::SetMachAcHibernateTimeOut(): Hibernation time-out is not longer than the "
      "Standby time-out->System Error: ",
      boxes[0].text);
}

TEST_F(SettingsDialogTest, CloseEscAndTheCloseBoxEndTheDialogWithTwo) {
  const struct {
    const char* name;
    INT_PTR (*act)(HWND);
  } ways[] = {
      {"Close", [](HWND dialog) { return host::ui::Click(dialog, IDCANCEL); }},
      {"Esc", host::ui::PressEscape},
      {"close box", host::ui::PressCloseBox},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    host::ui::Reset();
    const std::string before = Registry();
    host::ui::SetDialogScript([&way](const host::ui::DialogRun& run) {
      EXPECT_EQ(TRUE, way.act(run.dialog));
      EXPECT_FALSE(host::ui::IsDialogOpen(run.dialog));
    });
    EXPECT_EQ(
        2, DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(caskwell::kSettingsDialogId),
                           nullptr, SettingsDialogProc, 0));
    ASSERT_EQ(1u, host::ui::EndDialogs().size());
    EXPECT_EQ(2, host::ui::EndDialogs()[0].result);
    EXPECT_EQ(before, Registry());
  }
}

TEST_F(SettingsDialogTest, OtherMessagesAndCommands) {
  const std::string before = Registry();
  RunSettings([](HWND dialog) {
    // An edit box's notification, IDOK and an unknown command are taken and ignored.
    EXPECT_EQ(TRUE, host::ui::Type(dialog, kUserMonitor.entry, "8"));
    EXPECT_EQ(TRUE, host::ui::Click(dialog, IDOK));
    EXPECT_EQ(TRUE, host::ui::Click(dialog, 4242));
    EXPECT_EQ(FALSE, host::ui::SendToDialog(dialog, WM_TIMER, 1, 0));
    EXPECT_EQ(FALSE, host::ui::SendToDialog(dialog, WM_CLOSE, 0, 0));
    // A command is told by its low word alone.
    EXPECT_EQ(TRUE, host::ui::SendToDialog(dialog, WM_COMMAND, MAKEWPARAM(kUserMonitor.get, 1), 0));
    EXPECT_EQ("20", host::ui::ItemText(dialog, kUserMonitor.display));
    // Initialisation leaves the focus to the system.
    EXPECT_EQ(TRUE, host::ui::SendToDialog(dialog, WM_INITDIALOG, 0, 0));
    EXPECT_TRUE(host::ui::IsDialogOpen(dialog));
  });
  EXPECT_TRUE(host::ui::MessageBoxes().empty());
  EXPECT_EQ(before, Registry());
}

}  // namespace

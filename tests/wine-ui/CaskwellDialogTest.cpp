// Caskwell's settings dialog as a real window: Caskwell.exe runs under Wine on the area's
// private X display, with the stand-in powrprof.dll beside it, on the default schemes of a
// machine without standby (S3). This program plays its user from another process, as one
// would: reads what the dialog shows, types, clicks, answers its message boxes, and checks
// what reached the scheme store. Each case ends by closing the dialog with "Close", which must
// end the program with status 0.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DialogUser.h"
#include "ExamplePolicy.h"
#include "Files.h"
#include "Programs.h"
#include "Registry.h"
#include "Screenshot.h"
#include "SettingsLayout.h"

namespace {

using caskwell::kAllowUnprivileged;
using caskwell::kForceStandby;
using caskwell::kMachineHibernation;
using caskwell::kMachineStandby;
using caskwell::kUserMonitor;
using caskwell::kUserStandby;
using winetest::ItemText;
using winetest::Type;

constexpr const char* kNotWholeMinutes =
    "The new time-out must be a whole number of minutes from 0 to 4294967295.";
constexpr const char* kNoPrivileges =
    "PwrScheme::commit(): Current User has insufficient priviledges to write active power scheme "
    "and no override has been set.->System Error: ";
constexpr const char* kUserMonitorError = "Set User Monitor Timeout Error";

// The dialog base units of the template's font, computed as the dialog manager does: the
// average width of the letters and the height of the font.
void DialogBaseUnits(LONG* x, LONG* y) {
  HDC dc = GetDC(nullptr);
  HFONT font =
      CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE,
                  FALSE, DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE, "MS Sans Serif");
  HGDIOBJ old = SelectObject(dc, font);
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE size;
  GetTextExtentPoint32A(dc, kLetters, 52, &size);
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  *x = (size.cx / 26 + 1) / 2;
  *y = metrics.tmHeight;
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
}

// Dialog units to pixels (MapDialogRect works only in the dialog's own process). The dialog
// manager converts a control's origin and its size, each rounded on its own, so the far edge
// is not the converted far edge of the template's rectangle.
RECT ToPixels(int x, int y, int w, int h, LONG baseX, LONG baseY) {
  LONG left = MulDiv(x, baseX, 4);
  LONG top = MulDiv(y, baseY, 8);
  return RECT{left, top, left + MulDiv(w, baseX, 4), top + MulDiv(h, baseY, 8)};
}

// What a live control keeps of its template style. The dialog manager moves the default-button
// style with the focus, and edit boxes and texts draw a WS_BORDER as a client edge.
void ExpectLiveStyle(caskwell::Kind kind, HWND child) {
  const LONG style = GetWindowLongA(child, GWL_STYLE);
  const LONG ex = GetWindowLongA(child, GWL_EXSTYLE);
  const bool bordered = (style & WS_BORDER) || (ex & WS_EX_CLIENTEDGE);
  switch (kind) {
    case caskwell::kDefButton:
    case caskwell::kButton:
      EXPECT_TRUE((style & WS_TABSTOP) && ((style & BS_TYPEMASK) == BS_PUSHBUTTON ||
                                           (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON))
          << "a push button and a tab stop";
      break;
    case caskwell::kEdit:
      EXPECT_TRUE((style & WS_TABSTOP) && (style & ES_AUTOHSCROLL) && !(style & ES_NUMBER) &&
                  bordered)
          << "a bordered, scrolling tab stop that takes any text";
      break;
    case caskwell::kCheckBox:
      EXPECT_TRUE((style & WS_TABSTOP) && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX)
          << "an automatic check box and a tab stop";
      break;
    case caskwell::kTitle:
      EXPECT_TRUE((style & SS_TYPEMASK) == SS_CENTER && (style & SS_CENTERIMAGE) && bordered)
          << "centred both ways and bordered";
      break;
    case caskwell::kLabel:
      EXPECT_EQ(SS_LEFT, style & SS_TYPEMASK) << "a left-aligned text";
      break;
  }
}

std::string Show(const RECT& r) {
  char text[80];
  std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
  return text;
}

// Makes the current user one who may not write power schemes: the machine's power
// configuration key no longer grants write access. Keeps the key's access list in `saved`.
bool TakeAwaySchemeWriteRight(std::vector<BYTE>* saved) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, scheme_store::kMachinePowerCfg, 0, WRITE_DAC | READ_CONTROL,
                    &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD size = 4096;
  saved->assign(size, 0);
  LONG rc = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved->data(), &size);
  saved->resize(rc == ERROR_SUCCESS ? size : 0);

  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  BYTE aclBuffer[256];
  PACL acl = reinterpret_cast<PACL>(aclBuffer);
  InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
  AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  if (rc == ERROR_SUCCESS) rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(key);
  FreeSid(everyone);
  return rc == ERROR_SUCCESS;
}

// Puts the access list back; the owner keeps the right to change it.
bool RestoreSchemeWriteRight(std::vector<BYTE>* saved) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, scheme_store::kMachinePowerCfg, 0, WRITE_DAC, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved->data());
  RegCloseKey(key);
  if (rc == ERROR_SUCCESS) saved->clear();
  return rc == ERROR_SUCCESS;
}

bool UserMayWriteSchemes() {
  HKEY probe;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, scheme_store::kMachinePowerCfg, 0, KEY_WRITE, &probe) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(probe);
  return true;
}

// The stand-in's capabilities, as the power profile reports them, without standby.
std::string StoreCapabilitiesWithoutStandby() {
  LONG rc = winetest::DeleteValue(HKEY_LOCAL_MACHINE, scheme_store::kMachinePowerCfg,
                                  scheme_store::kCapabilitiesKnob);
  SYSTEM_POWER_CAPABILITIES caps = {};
  if (rc != ERROR_SUCCESS || !GetPwrCapabilities(&caps)) return "GetPwrCapabilities failed";
  caps.SystemS3 = FALSE;
  const BYTE* p = reinterpret_cast<const BYTE*>(&caps);
  rc = winetest::SetValue(HKEY_LOCAL_MACHINE, scheme_store::kMachinePowerCfg,
                          scheme_store::kCapabilitiesKnob, REG_BINARY,
                          winetest::Bytes(p, p + sizeof caps));
  return rc == ERROR_SUCCESS ? "" : "capabilities not stored: " + std::to_string(rc);
}

class CaskwellDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UserMayWriteSchemes()) << "the user may not write schemes before the case";
    ASSERT_EQ("", winetest::ImportRegFile(PM_SOURCE_DIR "/tests/fixtures/default-schemes.reg"));
    ASSERT_EQ("", StoreCapabilitiesWithoutStandby());
    ASSERT_TRUE(winetest::ReadScheme(0, &atStart_));
    ASSERT_TRUE(caskwell_.Start(winetest::ProgramDir() + "Caskwell.exe", {}))
        << "error " << caskwell_.startError();
    dialog_ = winetest::FindDialog(caskwell::kCaption, 30000);
    ASSERT_NE(nullptr, dialog_) << "no window \"" << caskwell::kCaption << "\"";
    ASSERT_TRUE(caskwell_.WaitUntilIdle(10000)) << "Caskwell does not wait for its user";
  }

  void TearDown() override {
    if (caskwell_.Running() && dialog_ != nullptr) Close(HERE);
    if (!takenAwayRight_.empty()) {
      EXPECT_TRUE(RestoreSchemeWriteRight(&takenAwayRight_));
    }
  }

  // "Close" closes the dialog, which ends the program with status 0.
  void Close(winetest::Where where) {
    if (!winetest::CloseWith(dialog_, IDCANCEL, 10000)) {
      ADD_FAILURE_AT(where.file, where.line) << "the dialog did not close";
    }
    DWORD status = 0;
    if (!caskwell_.Wait(30000, &status)) {
      ADD_FAILURE_AT(where.file, where.line) << "Caskwell still runs after its dialog closed";
    } else if (status != 0) {
      ADD_FAILURE_AT(where.file, where.line) << "Caskwell exit status " << status;
    }
  }

  void TakeAwaySchemeWriteRight() {
    ASSERT_TRUE(::TakeAwaySchemeWriteRight(&takenAwayRight_));
    ASSERT_FALSE(UserMayWriteSchemes());
  }

  POWER_POLICY Stored() {
    POWER_POLICY scheme = {};
    EXPECT_TRUE(winetest::ReadScheme(0, &scheme)) << "scheme 0 readable";
    return scheme;
  }

  // Clicks "Get" of the row and answers what it shows.
  std::string Get(const caskwell::Row& row) {
    winetest::Click(HERE, dialog_, row.get);
    return ItemText(dialog_, row.display);
  }

  // Ticks the box, which must then be ticked.
  void Tick(winetest::Where where, int id) {
    winetest::Click(where, dialog_, id);
    if (winetest::CheckState(dialog_, id) != BST_CHECKED) {
      ADD_FAILURE_AT(where.file, where.line) << "box " << id << " not ticked";
    }
  }

  winetest::RunningProgram caskwell_;
  HWND dialog_ = nullptr;
  POWER_POLICY atStart_ = {};
  std::vector<BYTE> takenAwayRight_;
};

// The live dialog against the template: caption, frame, size and every control in creation
// order; an ownerless dialog beside the hidden main window.
TEST_F(CaskwellDialog, ShowsTheTemplateBesideAHiddenMainWindow) {
  EXPECT_EQ(caskwell::kCaption, winetest::WindowText(dialog_));
  const LONG style = GetWindowLongA(dialog_, GWL_STYLE);
  EXPECT_EQ(WS_POPUP | WS_CAPTION | WS_SYSMENU, style & (WS_POPUP | WS_CAPTION | WS_SYSMENU));
  EXPECT_NE(0, GetWindowLongA(dialog_, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) << "a modal frame";
  EXPECT_EQ(nullptr, GetWindow(dialog_, GW_OWNER));
  HWND main = FindWindowA("CASKWELL", "Caskwell");
  ASSERT_NE(nullptr, main) << "the main window";
  EXPECT_FALSE(IsWindowVisible(main));

  LONG baseX = 0, baseY = 0;
  DialogBaseUnits(&baseX, &baseY);
  const RECT size = ToPixels(0, 0, 264, 290, baseX, baseY);
  RECT client;
  GetClientRect(dialog_, &client);
  EXPECT_EQ(size.right, client.right) << "client width of 264 units";
  EXPECT_EQ(size.bottom, client.bottom) << "client height of 290 units";

  std::vector<HWND> children;
  for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  ASSERT_EQ(caskwell::kSettingsItems, children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    const caskwell::Control& c = caskwell::kSettingsTemplate[i];
    SCOPED_TRACE(caskwell::NameOf(i));
    HWND child = children[i];
    EXPECT_EQ(c.id, GetDlgCtrlID(child) & 0xFFFF);
    char cls[64] = "";
    GetClassNameA(child, cls, sizeof cls);
    EXPECT_EQ(0, lstrcmpiA(cls, caskwell::ClassOf(c.kind))) << "class " << cls;
    EXPECT_EQ(c.text, winetest::WindowText(child));
    ExpectLiveStyle(c.kind, child);
    const RECT want = ToPixels(c.x, c.y, c.w, c.h, baseX, baseY);
    RECT got;
    GetWindowRect(child, &got);
    MapWindowPoints(HWND_DESKTOP, dialog_, reinterpret_cast<POINT*>(&got), 2);
    EXPECT_TRUE(EqualRect(&want, &got))
        << "at " << Show(got) << ", the template gives " << Show(want);
    if (c.kind == caskwell::kCheckBox) {
      EXPECT_EQ(BST_UNCHECKED, winetest::CheckState(dialog_, c.id)) << "cleared";
    }
  }
}

// The default scheme 0: monitor 20 minutes, everything else 0.
TEST_F(CaskwellDialog, GetShowsTheActiveSchemesTimeOutsInMinutes) {
  EXPECT_EQ("20", Get(kUserMonitor));
  EXPECT_EQ("0", Get(kUserStandby));
  EXPECT_EQ("0", Get(kMachineStandby));
  EXPECT_EQ("0", Get(kMachineHibernation));
}

TEST_F(CaskwellDialog, SetAppliesAndCommitsAndTheDisplayWaitsForGet) {
  EXPECT_EQ("20", Get(kUserMonitor));
  Type(dialog_, kUserMonitor.entry, "7");
  CLICK(dialog_, kUserMonitor.set);
  EXPECT_EQ(420u, Stored().user.VideoTimeoutAc);
  EXPECT_EQ("20", ItemText(dialog_, kUserMonitor.display));
  EXPECT_EQ("7", Get(kUserMonitor));
}

// Whatever the platform's GetDlgItemInt makes of these texts (printed for the record), the
// dialog refuses them all and applies nothing.
TEST_F(CaskwellDialog, AnEntryThatIsNotAWholeNumberOfMinutesAppliesNothing) {
  for (const char* text : {"-5", "+5", "12x", " 7 ", "4294967295"}) {
    Type(dialog_, kUserMonitor.entry, text);
    BOOL translated = FALSE;
    UINT value = GetDlgItemInt(dialog_, kUserMonitor.entry, &translated, FALSE);
    std::printf("GetDlgItemInt(\"%s\") = %u, translated %d\n", text, value, translated);
  }
  for (const char* text : {"-5", "+5", "12x", "", "4294967296", "abc"}) {
    SCOPED_TRACE(std::string("\"") + text + "\"");
    Type(dialog_, kUserMonitor.entry, text);
    CLICK_EXPECTING_BOX(dialog_, kUserMonitor.set, kUserMonitorError, kNotWholeMinutes);
  }
  EXPECT_SCHEME(0, atStart_);
}

// No standby on this machine: both standby rows are refused until "Force System Standby".
TEST_F(CaskwellDialog, StandbyIsRefusedWithoutS3UntilForced) {
  Type(dialog_, kUserStandby.entry, "12");
  CLICK_EXPECTING_BOX(dialog_, kUserStandby.set, "Set User Standby Error",
                      "PwrScheme::SetUserAcStandbyTimeOut(): System is not capable of Power "
                      "Suspend->System Error: ");
  CLICK_EXPECTING_BOX(dialog_, kMachineStandby.set, "Set Machine Standby Error",
                      "PwrScheme::SetMachAcStandbyTimeOut(): System is not capable of Power "
                      "Suspend in Sleep State S3.->System Error: ");
  EXPECT_SCHEME(0, atStart_);

  Tick(HERE, kForceStandby);
  CLICK(dialog_, kUserStandby.set);
  EXPECT_EQ(720u, Stored().user.IdleTimeoutAc);
  EXPECT_EQ(PowerActionSleep, Stored().user.IdleAc.Action);
  CLICK(dialog_, kMachineStandby.set);
  EXPECT_EQ(900u, Stored().mach.DozeTimeoutAc);
  EXPECT_EQ("12", Get(kUserStandby));
  EXPECT_EQ("15", Get(kMachineStandby));
}

// Hibernation is the whole idle time: the apply stores the delay after the user standby (12),
// the display adds it back, and the machine standby (15) plays no part: 30 goes in, 30 comes
// out. A total that does not come after the user standby is refused and stores nothing.
TEST_F(CaskwellDialog, HibernationCountsFromUserStandbyAndReadsBackAsApplied) {
  Tick(HERE, kForceStandby);
  Type(dialog_, kUserStandby.entry, "12");
  CLICK(dialog_, kUserStandby.set);
  CLICK(dialog_, kMachineStandby.set);  // 15, as the box starts
  Type(dialog_, kMachineHibernation.entry, "30");
  CLICK(dialog_, kMachineHibernation.set);
  EXPECT_EQ(1080u, Stored().mach.DozeS4TimeoutAc);
  EXPECT_EQ("30", Get(kMachineHibernation));

  Type(dialog_, kMachineHibernation.entry, "12");
  CLICK_EXPECTING_BOX(dialog_, kMachineHibernation.set, "Set Machine Hibernate Error",
                      "PwrScheme::SetMachAcHibernateTimeOut(): Hibernation time-out is not "
                      "longer than the Standby time-out->System Error: ");
  EXPECT_EQ(1080u, Stored().mach.DozeS4TimeoutAc);
}

// Refused, until "Allow Unpriviledged User" lets the commit write the user half straight into
// the active scheme's per-user value, leaving the machine half alone.
TEST_F(CaskwellDialog, AUserWhoMayNotWriteSchemesCommitsOnlyThroughTheOverride) {
  ASSERT_NO_FATAL_FAILURE(TakeAwaySchemeWriteRight());
  Type(dialog_, kUserMonitor.entry, "9");
  CLICK_EXPECTING_BOX(dialog_, kUserMonitor.set, kUserMonitorError, kNoPrivileges);
  EXPECT_SCHEME(0, atStart_);

  Tick(HERE, kAllowUnprivileged);
  CLICK(dialog_, kUserMonitor.set);
  POWER_POLICY expected = atStart_;
  expected.user.VideoTimeoutAc = 540;
  EXPECT_SCHEME(0, expected);
  EXPECT_EQ("9", Get(kUserMonitor));
}

// A session over all four rows and both boxes: once the program has ended, the registry and
// the library in another program (ShowSchemes) read what the dialog applied. The worked
// dialog is also the documentation's picture.
TEST_F(CaskwellDialog, WhatTheDialogAppliedOutlivesItForOtherPrograms) {
  Tick(HERE, kForceStandby);
  Tick(HERE, kAllowUnprivileged);
  const struct {
    const caskwell::Row& row;
    const char* typed;
    const char* shown;
  } kSession[] = {{kUserMonitor, "9", "9"},
                  {kUserStandby, "12", "12"},
                  {kMachineStandby, "15", "15"},
                  {kMachineHibernation, "30", "30"}};
  for (const auto& step : kSession) {
    SCOPED_TRACE(step.row.name);
    Type(dialog_, step.row.entry, step.typed);
    CLICK(dialog_, step.row.set);
    EXPECT_EQ(step.shown, Get(step.row));
  }

  // The dialog is the foreground window, but Wine without a window manager paints the caption
  // of a dialog started from another program as inactive until it is activated again (a
  // message box coming and going does it). The picture shows it as its user sees it.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(dialog_, WM_NCACTIVATE, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  std::string png;
  ASSERT_EQ("", winetest::ScreenshotPng(dialog_, &png));
  CreateDirectoryA(winetest::WinePathOf(PM_ARTIFACTS_DIR).c_str(), nullptr);
  const std::string shot = winetest::WinePathOf(PM_ARTIFACTS_DIR "/caskwell-dialog.png");
  EXPECT_TRUE(winetest::WriteFileBytes(shot, png)) << shot;
  const std::string docs = winetest::WinePathOf(PM_SOURCE_DIR "/docs/images/caskwell-dialog.png");
  std::string documented;
  if (!winetest::ReadFileBytes(docs, &documented) || documented != png) {
    EXPECT_TRUE(winetest::WriteFileBytes(docs, png)) << docs;
    std::printf("updated %s\n", docs.c_str());
  }

  Close(HERE);
  POWER_POLICY expected = atStart_;
  expected.user.VideoTimeoutAc = 540;
  expected.user.IdleTimeoutAc = 720;
  expected.user.IdleAc.Action = PowerActionSleep;
  expected.mach.DozeTimeoutAc = 900;
  expected.mach.DozeS4TimeoutAc = 1080;
  EXPECT_SCHEME(0, expected);

  // Monitor, standby, hibernation and disk of scheme 0, mains/battery, in minutes.
  winetest::ProgramRun listing =
      winetest::RunProgram(winetest::ProgramDir() + "ShowSchemes.exe", {"0"});
  ASSERT_TRUE(listing.ended && listing.exitCode == 0) << listing.output;
  std::vector<std::string> row;  // the line "* 0 NAME... times": the active scheme 0
  std::string line;
  for (char c : listing.output + "\n") {
    if (c != '\n') {
      line += c;
      continue;
    }
    std::vector<std::string> fields;
    for (size_t at = line.find_first_not_of(" \r"); at != std::string::npos;) {
      const size_t end = line.find_first_of(" \r", at);
      fields.push_back(line.substr(at, end - at));
      at = line.find_first_not_of(" \r", end);
    }
    if (fields.size() >= 6 && fields[0] == "*" && fields[1] == "0") row = fields;
    line.clear();
  }
  ASSERT_FALSE(row.empty()) << listing.output;
  EXPECT_EQ((std::vector<std::string>{"9/5", "12/5", "30/0", "0/10"}),
            std::vector<std::string>(row.end() - 4, row.end()))
      << listing.output;
}

}  // namespace

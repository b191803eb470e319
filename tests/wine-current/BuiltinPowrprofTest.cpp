// The three programs under Wine with Wine's own powrprof.dll, which lacks the current
// functions and answers every legacy scheme function with a failure: each program must choose
// the legacy interface, find no active scheme, say so and change nothing, and none may crash.
// And the same programs where Wine loads no powrprof.dll at all: they import nothing from it,
// so they start, find no power-scheme interface, say so and end normally.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
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

constexpr const char* kChosenLegacy =
    "Power scheme interface: legacy (powrprof.dll has no PowerReadACValueIndex)";
constexpr const char* kNoActiveScheme =
    "PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for current power scheme->System "
    "Error: ";

std::string LogPath() { return winetest::WindowsDir() + "\\Temp\\Dorvane.log"; }

class BuiltinPowrprof : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(monitor_.Listening());
    ASSERT_EQ("", winetest::RemoveService());
    ASSERT_EQ("", winetest::SeedDefaultSchemesAndExamplePolicy());
    ASSERT_TRUE(winetest::DeleteFileIfPresent(LogPath())) << GetLastError();
  }
  void TearDown() override { EXPECT_EQ("", winetest::RemoveService()); }

  winetest::DebugMonitor monitor_;
};

TEST_F(BuiltinPowrprof, TheLogonToolFindsNoActiveSchemeAndChangesNothing) {
  const winetest::ProgramRun run =
      winetest::RunProgram(winetest::ProgramDir() + "Dorvane_Tool.exe", {});
  ASSERT_TRUE(run.started && run.ended) << run.startError;
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_FILE_LINES(LogPath(), {std::string("ERROR: ") + kNoActiveScheme});
  EXPECT_NO_REG_KEY(HKEY_CURRENT_USER, winetest::kBackupKey);
  ASSERT_TRUE(monitor_.Settle());
  EXPECT_EQ(Texts{kChosenLegacy}, monitor_.TextsOf(run.processId));
}

TEST_F(BuiltinPowrprof, TheServicesPassFindsNoActiveSchemeAndChangesNothing) {
  const winetest::ProgramRun install =
      winetest::RunProgram(winetest::SystemDir() + "\\Hollin.exe", {"/Install"}, 30000);
  ASSERT_TRUE(install.ended && install.exitCode == 0) << install.exitCode;
  const winetest::ServiceState service = winetest::ExpectFirstPass(HERE, monitor_);
  ASSERT_FALSE(HasFailure());

  // The interface is chosen as the service starts, before its first pass.
  EXPECT_EQ((Texts{kChosenLegacy, kPassBegins, kChosenLegacy, kPassEnds}),
            monitor_.TextsOf(service.processId));
  EXPECT_FILE_LINES(LogPath(), {std::string("ERROR: ") + kNoActiveScheme});
  EXPECT_NO_REG_KEY(HKEY_LOCAL_MACHINE, winetest::kBackupKey);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), winetest::QueryService().state)
      << "the service goes on to its next pass";
}

// "Hollin /Status" cannot tell without an active scheme, and says why.
TEST_F(BuiltinPowrprof, TheStatusCommandCannotTellWithoutAnActiveScheme) {
  const winetest::ProgramRun run =
      winetest::RunProgram(winetest::SystemDir() + "\\Hollin.exe", {"/Status"});
  ASSERT_TRUE(run.started && run.ended) << run.startError;
  EXPECT_EQ(2u, run.exitCode) << run.output;
  const Texts report = winetest::OutputLines(run.output);
  ASSERT_EQ(21u, report.size()) << run.output;
  EXPECT_EQ("interface: legacy", report[2]);
  EXPECT_EQ("active-scheme: unknown", report[7]);
  EXPECT_EQ("result: unknown no-active-scheme", report[20]);
  EXPECT_FALSE(winetest::FileExists(LogPath()));
}

// Ends Caskwell's start: dismisses its error box, whose text it answers, and the box of
// FatalAppExit after it. Answers false when Caskwell showed no box or did not end.
bool DismissCaskwellsError(winetest::RunningProgram& caskwell, std::string* text, DWORD* status) {
  HWND box = winetest::FindDialog("Power Management Initialization Error", 30000);
  if (box == nullptr) return false;
  *text = winetest::ItemText(box, 0xFFFF);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  bool ended = false;
  for (int i = 0; i < 30 && !(ended = caskwell.Wait(1000, status)); ++i) {
    for (HWND other = FindWindowA("#32770", nullptr); other != nullptr;
         other = FindWindowExA(nullptr, other, "#32770", nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(other, &owner);
      if (owner == caskwell.processId()) PostMessageA(other, WM_COMMAND, IDOK, 0);
    }
  }
  return ended;
}

// Caskwell shows why it cannot start and ends, rather than showing a dialog of zeros.
TEST_F(BuiltinPowrprof, CaskwellSaysItFindsNoActiveSchemeAndEnds) {
  winetest::RunningProgram caskwell;
  ASSERT_TRUE(caskwell.Start(winetest::ProgramDir() + "Caskwell.exe", {})) << caskwell.startError();
  // The program then ends through FatalAppExit, whose own box (under Wine) is dismissed too.
  std::string text;
  DWORD status = 0;
  ASSERT_TRUE(DismissCaskwellsError(caskwell, &text, &status)) << "no box, or Caskwell still runs";
  EXPECT_EQ(kNoActiveScheme, text);
  EXPECT_LT(status, 0xC0000000u) << "ended by an exception";
  EXPECT_EQ(nullptr, winetest::FindDialog(caskwell::kCaption, 0)) << "no settings dialog";
  ASSERT_TRUE(monitor_.Settle());
  EXPECT_EQ(Texts{kChosenLegacy}, monitor_.TextsOf(caskwell.processId()));
}

// Wine loads no powrprof.dll for the three programs: an empty load order in each one's
// DllOverrides key (the area's session overrides nothing of powrprof.dll).
class WithoutPowrprof : public BuiltinPowrprof {
 protected:
  static std::string OverridesOf(const char* program) {
    return std::string("Software\\Wine\\AppDefaults\\") + program + "\\DllOverrides";
  }
  void SetUp() override {
    BuiltinPowrprof::SetUp();
    for (const char* program : kPrograms) {
      ASSERT_EQ(ERROR_SUCCESS,
                winetest::SetText(HKEY_CURRENT_USER, OverridesOf(program), "powrprof", REG_SZ, ""));
    }
  }
  void TearDown() override {
    for (const char* program : kPrograms) {
      EXPECT_EQ(ERROR_SUCCESS,
                winetest::DeleteValue(HKEY_CURRENT_USER, OverridesOf(program), "powrprof"));
    }
    BuiltinPowrprof::TearDown();
  }

  static constexpr const char* kPrograms[] = {"Dorvane_Tool.exe", "Hollin.exe", "Caskwell.exe"};
};

constexpr const char* kNoPowrprof = "powrprof.dll not loaded, error 126";

TEST_F(WithoutPowrprof, TheLogonToolStartsSaysWhyAndChangesNothing) {
  const winetest::ProgramRun run =
      winetest::RunProgram(winetest::ProgramDir() + "Dorvane_Tool.exe", {});
  ASSERT_TRUE(run.started && run.ended) << run.startError;
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_FILE_LINES(LogPath(), {std::string("ERROR: No power scheme interface: ") + kNoPowrprof});
  EXPECT_NO_REG_KEY(HKEY_CURRENT_USER, winetest::kBackupKey);
  ASSERT_TRUE(monitor_.Settle());
  EXPECT_EQ(Texts{std::string("Power scheme interface: none (") + kNoPowrprof + ")"},
            monitor_.TextsOf(run.processId));
}

TEST_F(WithoutPowrprof, TheStatusCommandCannotTellAndSaysWhy) {
  const winetest::ProgramRun run =
      winetest::RunProgram(winetest::SystemDir() + "\\Hollin.exe", {"/Status"});
  ASSERT_TRUE(run.started && run.ended) << run.startError;
  EXPECT_EQ(2u, run.exitCode) << run.output;
  const Texts report = winetest::OutputLines(run.output);
  ASSERT_EQ(21u, report.size()) << run.output;
  EXPECT_EQ("interface: none", report[2]);
  EXPECT_EQ("active-scheme: unknown", report[7]);
  EXPECT_EQ("result: unknown no-power-interface", report[20]);
  EXPECT_FALSE(winetest::FileExists(LogPath()));
}

TEST_F(WithoutPowrprof, CaskwellStartsSaysItFindsNoActiveSchemeAndEnds) {
  winetest::RunningProgram caskwell;
  ASSERT_TRUE(caskwell.Start(winetest::ProgramDir() + "Caskwell.exe", {})) << caskwell.startError();
  std::string text;
  DWORD status = 0;
  ASSERT_TRUE(DismissCaskwellsError(caskwell, &text, &status)) << "no box, or Caskwell still runs";
  EXPECT_EQ(kNoActiveScheme, text);
  EXPECT_LT(status, 0xC0000000u) << "ended by an exception";
  ASSERT_TRUE(monitor_.Settle());
  EXPECT_EQ(Texts{std::string("Power scheme interface: none (") + kNoPowrprof + ")"},
            monitor_.TextsOf(caskwell.processId()));
}

}  // namespace

// Start-up, the hidden main window and the about box.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ExerciserFixture.h"
#include "HostCurrentSchemeStore.h"
#include "HostSchemeStore.h"
#include "PowerMachine.h"
#include "TableTest.h"
#include "resource.h"

namespace {

constexpr const char* kInitCaption = "Power Management Initialization Error";
constexpr const char* kFatalText =
    "The Power management initialization failed to occur and this program will shut down now.";

class StartUpTest : public ExerciserTest {
 protected:
  void SetUp() override {
    ExerciserTest::SetUp();
    // WinMain reads the scheme itself, into objects the runtime has just built.
    StartProgram();
    host::ClearCalls();
  }

  static int RunWinMain() {
    char commandLine[] = "";
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWDEFAULT);
  }

  static size_t Position(const std::vector<std::string>& calls, const std::string& name) {
    return static_cast<size_t>(std::find(calls.begin(), calls.end(), name) - calls.begin());
  }
};

TEST_F(StartUpTest, NormalRunShowsOnlyTheSettingsDialogAndWritesNothing) {
  const std::string before = Registry();
  std::string shown;
  host::ui::SetDialogScript([&shown](const host::ui::DialogRun& run) {
    host::ui::Click(run.dialog, caskwell::kUserMonitor.get);
    shown = host::ui::ItemText(run.dialog, caskwell::kUserMonitor.display);
    host::ui::Click(run.dialog, IDCANCEL);
  });

  EXPECT_EQ(0, RunWinMain());

  // The dialog worked on the active scheme, read at start-up (Home/Office Desk: 20 minutes).
  EXPECT_EQ("20", shown);
  auto dialogs = host::ui::Dialogs();
  ASSERT_EQ(1u, dialogs.size());
  EXPECT_EQ(IDD_SETTINGS, dialogs[0].templateId);
  EXPECT_EQ(nullptr, dialogs[0].owner);
  EXPECT_EQ(&SettingsDialogProc, dialogs[0].proc);

  // The main window: created hidden, never shown, destroyed at the end.
  auto windows = host::ui::Windows();
  ASSERT_EQ(2u, windows.size());
  host::ui::WindowInfo main;
  ASSERT_TRUE(host::ui::GetWindowInfo(windows[0], &main));
  EXPECT_EQ("CASKWELL", main.className);
  EXPECT_EQ("Caskwell", main.title);
  EXPECT_EQ(static_cast<DWORD>(WS_OVERLAPPEDWINDOW), main.style);
  EXPECT_EQ(0u, main.exStyle);
  EXPECT_EQ(nullptr, main.parent);
  EXPECT_EQ("#109", main.menuName);
  EXPECT_FALSE(main.everVisible);
  EXPECT_TRUE(main.destroyed);
  EXPECT_EQ(0u, host::CallCount(host::gated::ShowWindow));

  EXPECT_TRUE(host::ui::MessageBoxes().empty());
  EXPECT_EQ(before, Registry());
}

// On a Windows that no longer exports the legacy functions the program starts, shows the active
// scheme of the current store and changes it there.
TEST_F(StartUpTest, WorksOnACurrentMachineWithoutTheLegacyFunctions) {
  std::string error;
  ASSERT_TRUE(host::ImportRegFile(PM_FIXTURES_DIR "/current-default-schemes.reg", &error)) << error;
  StartProgram(ProbedOn(host::PowerMachine::kCurrentWithoutLegacy));
  std::string shown;
  host::ui::SetDialogScript([&shown](const host::ui::DialogRun& run) {
    host::ui::Click(run.dialog, caskwell::kUserMonitor.get);
    shown = host::ui::ItemText(run.dialog, caskwell::kUserMonitor.display);
    host::ui::Type(run.dialog, caskwell::kUserMonitor.entry, "15");
    host::ui::Click(run.dialog, caskwell::kUserMonitor.set);
    host::ui::Click(run.dialog, IDCANCEL);
  });

  EXPECT_EQ(0, RunWinMain());

  EXPECT_EQ("10", shown) << "Balanced's mains monitor time-out";
  EXPECT_TRUE(host::ui::MessageBoxes().empty());
  EXPECT_EQ(900u, current_store::Stored(current_store::kBalanced, current_store::kVideoIdle, true));
  EXPECT_EQ(0u, host::CallCount(host::gated::GetActivePwrScheme));
  EXPECT_EQ(0u, host::CallCount(host::gated::ReadPwrScheme));
}

TEST_F(StartUpTest, RegistersTheWindowClassFromTheResources) {
  host::ui::SetDialogScript(
      [](const host::ui::DialogRun& run) { host::ui::Click(run.dialog, IDCANCEL); });
  ASSERT_EQ(0, RunWinMain());

  host::ui::WindowClass c;
  ASSERT_TRUE(host::ui::FindClass("CASKWELL", &c));
  EXPECT_EQ("CASKWELL", c.name);
  EXPECT_EQ(3u, c.style);
  EXPECT_EQ(&MainWindowProc, c.proc);
  EXPECT_EQ(0, c.classExtra);
  EXPECT_EQ(0, c.windowExtra);
  EXPECT_EQ(GetModuleHandleA(nullptr), c.instance);
  EXPECT_EQ("icon #107", host::ui::ResourceOf(c.icon));
  EXPECT_EQ("icon #108", host::ui::ResourceOf(c.smallIcon));
  EXPECT_EQ("system cursor #32512", host::ui::ResourceOf(c.cursor));
  EXPECT_EQ(reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)), c.background);
  EXPECT_EQ("#109", c.menuName);
  EXPECT_EQ(1u, host::CallCount(host::gated::LoadAcceleratorsA));
}

// Whatever makes the read fail, the user sees the recorded text, then the fixed fatal text,
// and the process ends there. Without an active scheme nothing is read at all, not even a
// scheme under the index a failed query answers, and the query's failure is what is shown.
struct FailedSchemeReadShowsTwoBoxesAndEndsTheProcessCase {
  const char* name;
  std::function<void()> arrange;
  std::string text;
  size_t reads;
};

class FailedSchemeReadShowsTwoBoxesAndEndsTheProcess
    : public StartUpTest,
      public ::testing::WithParamInterface<FailedSchemeReadShowsTwoBoxesAndEndsTheProcessCase> {
 public:
  static std::vector<FailedSchemeReadShowsTwoBoxesAndEndsTheProcessCase> Cases() {
    const std::string unread = "PwrScheme initialiaze()->System Error: ";
    const std::string noActive =
        "PwrMgmt::GetPwrSchemeInUse() failed. Unable to Get index for current power "
        "scheme->System Error: ";
    return {
        {"no active scheme",
         [] {
           host::Reset();
           host::SetDebugEcho(false);
         },
         noActive, 0},
        {"active scheme unknown beside a scheme 65535",
         [] {
           scheme_store::Seed(65535, scheme_store::DistinctPolicy());
           host::FailCall(host::gated::GetActivePwrScheme, 1, ERROR_FILE_NOT_FOUND);
         },
         noActive, 0},
        {"active scheme missing",
         [] {
           host::WriteString(HKEY_CURRENT_USER, scheme_store::kUserPowerCfg,
                             scheme_store::kActiveValue, "7");
         },
         unread, 1},
        {"read refused", [] { host::FailCall(host::gated::ReadPwrScheme, 1, ERROR_ACCESS_DENIED); },
         unread, 1},
        {"no powrprof.dll", [] { StartProgram(ProbedOn(host::PowerMachine::kWithoutPowrprof)); },
         noActive, 0},
    };
  }
};

TEST_P(FailedSchemeReadShowsTwoBoxesAndEndsTheProcess, Case) {
  const FailedSchemeReadShowsTwoBoxesAndEndsTheProcessCase& c = GetParam();
  SCOPED_TRACE(c.name);
  c.arrange();

  EXPECT_THROW(RunWinMain(), ProcessEnded);

  auto boxes = host::ui::MessageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(nullptr, boxes[0].owner);
  EXPECT_EQ(c.text, boxes[0].text);
  EXPECT_EQ(kInitCaption, boxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[0].type);
  auto fatal = host::ui::FatalExits();
  ASSERT_EQ(1u, fatal.size());
  EXPECT_EQ(0u, fatal[0].action);
  EXPECT_EQ(kFatalText, fatal[0].text);
  auto calls = host::Calls();
  EXPECT_LT(Position(calls, "MessageBoxA"), Position(calls, "FatalAppExitA"));
  EXPECT_EQ(c.reads, host::CallCount(host::gated::ReadPwrScheme));
  EXPECT_TRUE(host::ui::Dialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedSchemeReadShowsTwoBoxesAndEndsTheProcess,
    ::testing::ValuesIn(FailedSchemeReadShowsTwoBoxesAndEndsTheProcess::Cases()), CaseName());

TEST_F(StartUpTest, WithoutAMainWindowNothingIsReadOrShown) {
  host::FailCall(host::gated::CreateWindowExA, 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(0, RunWinMain());
  EXPECT_EQ(0u, host::CallCount(host::gated::GetActivePwrScheme));
  EXPECT_EQ(0u, host::CallCount(host::gated::ReadPwrScheme));
  EXPECT_TRUE(host::ui::Dialogs().empty());
  EXPECT_TRUE(host::ui::MessageBoxes().empty());
  EXPECT_EQ(0u, host::CallCount(host::gated::GetMessageA));
}

TEST_F(StartUpTest, WithoutTheDialogTheProgramEndsNormally) {
  host::FailCall(host::gated::DialogBoxParamA, 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(0, RunWinMain());
  host::ui::WindowInfo main;
  ASSERT_TRUE(host::ui::GetWindowInfo(host::ui::Windows().at(0), &main));
  EXPECT_TRUE(main.destroyed);
  EXPECT_FALSE(main.everVisible);
}

// The main window as the program registers it, created directly, so its procedure can be
// given one message at a time.
class MainWindowTest : public ExerciserTest {
 protected:
  void SetUp() override {
    ExerciserTest::SetUp();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    LoadStringA(instance, IDS_APP_TITLE, windowTitle, kTextLength);
    LoadStringA(instance, IDS_WINDOW_CLASS, windowClassName, kTextLength);
    instanceHandle = instance;
    RegisterMainWindowClass(instance);
    window = CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                             CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    ASSERT_NE(nullptr, window);
    host::ClearCalls();
  }

  HWND window = nullptr;
};

TEST_F(MainWindowTest, CommandsOpenTheDialogsOwnedByTheWindow) {
  const struct {
    WPARAM command;
    int dialog;
    DLGPROC proc;
  } cases[] = {
      {caskwell::kAboutCommand, IDD_ABOUTBOX, AboutDialogProc},
      {MAKEWPARAM(caskwell::kAboutCommand, 1), IDD_ABOUTBOX,
       AboutDialogProc},  // as an accelerator sends it
      {caskwell::kSettingsCommand, IDD_SETTINGS, SettingsDialogProc},
      {MAKEWPARAM(caskwell::kSettingsCommand, 1), IDD_SETTINGS, SettingsDialogProc},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const size_t runs = host::ui::Dialogs().size();
    host::ui::SetDialogScript([this](const host::ui::DialogRun& run) {
      host::ui::WindowInfo owner;
      host::ui::GetWindowInfo(window, &owner);
      EXPECT_FALSE(owner.enabled);  // modal
      host::ui::Click(run.dialog, IDCANCEL);
    });
    EXPECT_EQ(0, MainWindowProc(window, WM_COMMAND, c.command, 0));
    auto dialogs = host::ui::Dialogs();
    ASSERT_EQ(runs + 1, dialogs.size());
    EXPECT_EQ(c.dialog, dialogs.back().templateId);
    EXPECT_EQ(window, dialogs.back().owner);
    EXPECT_EQ(c.proc, dialogs.back().proc);
  }
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(0u, host::CallCount(host::gated::DefWindowProcA));
}

class ExitCommand : public MainWindowTest, public ::testing::WithParamInterface<WPARAM> {};

TEST_P(ExitCommand, DestroysTheWindowAndDestructionPostsQuitZero) {
  const WPARAM command = GetParam();
  EXPECT_EQ(0, SendMessageA(window, WM_COMMAND, command, 0));
  EXPECT_FALSE(IsWindow(window));
  int code = -1;
  EXPECT_TRUE(host::ui::QuitPending(&code));
  EXPECT_EQ(0, code);
  MSG message;
  EXPECT_EQ(FALSE, GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(static_cast<UINT>(WM_QUIT), message.message);
  EXPECT_EQ(0u, message.wParam);
}

// From the menu, and as an accelerator sends it.
INSTANTIATE_TEST_SUITE_P(Sources, ExitCommand,
                         ::testing::Values(WPARAM{caskwell::kExitCommand},
                                           MAKEWPARAM(caskwell::kExitCommand, 1)),
                         [](const ::testing::TestParamInfo<WPARAM>& info) {
                           return std::string(HIWORD(info.param) == 1 ? "accelerator" : "menu");
                         });

TEST_F(MainWindowTest, PaintDrawsTheTextCentredAtTheTop) {
  EXPECT_EQ(0, MainWindowProc(window, WM_PAINT, 0, 0));
  auto drawn = host::ui::DrawnTexts();
  ASSERT_EQ(1u, drawn.size());
  EXPECT_EQ(window, drawn[0].window);
  EXPECT_EQ("Youcan now exit this program.", drawn[0].text);
  EXPECT_EQ(static_cast<UINT>(DT_CENTER), drawn[0].format);
  EXPECT_EQ(1u, host::CallCount(host::gated::GetClientRect));
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.top, drawn[0].rect.top);
  EXPECT_EQ(client.left, drawn[0].rect.left);
  EXPECT_EQ(client.right, drawn[0].rect.right);
  EXPECT_EQ(1u, host::CallCount(host::gated::EndPaint));
}

TEST_F(MainWindowTest, EverythingElseGoesToTheDefaultProcedure) {
  EXPECT_EQ(0, MainWindowProc(window, WM_COMMAND, 4242, 0));
  EXPECT_EQ(0, MainWindowProc(window, WM_TIMER, 1, 0));
  EXPECT_EQ(TRUE, MainWindowProc(window, WM_NCCREATE, 0, 0));
  EXPECT_EQ(3u, host::CallCount(host::gated::DefWindowProcA));
  EXPECT_TRUE(host::ui::Dialogs().empty());
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(host::ui::QuitPending());
  // Every message loads the painted text first.
  EXPECT_EQ(3u, host::CallCount(host::gated::LoadStringA));
}

TEST_F(MainWindowTest, AboutBoxEndsOnOkAndCancelOnly) {
  const struct {
    UINT message;
    WPARAM wParam;
    INT_PTR answer;
    INT_PTR ended;  // the EndDialog result, or -1 for none
  } cases[] = {
      {WM_COMMAND, IDOK, TRUE, IDOK},
      {WM_COMMAND, IDCANCEL, TRUE, IDCANCEL},
      {WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), TRUE, IDCANCEL},
      {WM_COMMAND, 3, FALSE, -1},
      {WM_COMMAND, caskwell::kAboutCommand, FALSE, -1},
      {WM_TIMER, 1, FALSE, -1},
      {WM_CLOSE, 0, FALSE, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("message " + std::to_string(c.message) + " wParam " + std::to_string(c.wParam));
    const size_t ends = host::ui::EndDialogs().size();
    INT_PTR answer = -1;
    host::ui::SetDialogScript([&c, &answer](const host::ui::DialogRun& run) {
      EXPECT_EQ(TRUE, host::ui::SendToDialog(run.dialog, WM_INITDIALOG, 0, 0));
      answer = host::ui::SendToDialog(run.dialog, c.message, c.wParam, 0);
      if (host::ui::IsDialogOpen(run.dialog)) host::ui::PressEscape(run.dialog);
    });
    INT_PTR result =
        DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, AboutDialogProc, 0);
    EXPECT_EQ(c.answer, answer);
    // Ended by the message itself, or else by the Esc afterwards.
    EXPECT_EQ(c.ended >= 0 ? c.ended : IDCANCEL, result);
    EXPECT_EQ(ends + 1, host::ui::EndDialogs().size());
  }
}

}  // namespace

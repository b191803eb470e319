// The user-interface stand-in where its behaviour is Windows' and the exerciser relies on it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostControl.h"
#include "HostUiControl.h"
#include "Win32Api.h"

namespace {

class HostUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::ui::Reset();
  }

  // Runs a dialog whose procedure answers TRUE to everything and ends on IDCANCEL.
  static INT_PTR RunDialog(const host::ui::DialogScript& script) {
    host::ui::SetDialogScript(script);
    return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(1), nullptr, Proc, 0);
  }

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    messages.push_back(message);
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 7);
    if (message == WM_COMMAND && LOWORD(wParam) == 10) SetDlgItemInt(dialog, 11, 42, FALSE);
    return message == WM_COMMAND || message == WM_INITDIALOG;
  }

  static std::vector<UINT> messages;
};

std::vector<UINT> HostUiTest::messages;

// What the stand-in's GetDlgItemInt does where Wine cannot be the judge (the documented
// translation is held on both sides by the conformance tests): no sign it was not asked for,
// no plus sign, no tab, where Windows does not say and Wine 8 takes all three; and INT_MAX and
// INT_MIN, which the documentation allows and Wine 8 refuses.
TEST_F(HostUiTest, GetDlgItemIntTakesNothingWindowsLeavesOpen) {
  const struct {
    const char* text;
    BOOL isSigned;
    BOOL translated;
    UINT value;
  } cases[] = {
      {"-1", FALSE, FALSE, 0},
      {"+1", FALSE, FALSE, 0},
      {"+1", TRUE, FALSE, 0},
      {"\t5", FALSE, FALSE, 0},
      {"2147483647", TRUE, TRUE, 2147483647u},
      {"-2147483648", TRUE, TRUE, 0x80000000u},
      {"-2147483649", TRUE, FALSE, 0},
  };
  RunDialog([&cases](const host::ui::DialogRun& run) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string("'") + c.text + "'" + (c.isSigned ? " signed" : ""));
      SetDlgItemTextA(run.dialog, 5, c.text);
      BOOL translated = 2;
      EXPECT_EQ(c.value, GetDlgItemInt(run.dialog, 5, &translated, c.isSigned));
      EXPECT_EQ(c.translated, translated);
    }
    host::ui::PressEscape(run.dialog);
  });
}

// What the dialog procedure calls while the stand-in runs it is the program's own call:
// recorded, and failable.
TEST_F(HostUiTest, CallsFromAProcedureAreThePrograms) {
  host::FailCall(host::gated::SetDlgItemInt, 2, ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(7, RunDialog([](const host::ui::DialogRun& run) {
              host::ui::Click(run.dialog, 10);
              EXPECT_EQ("42", host::ui::ItemText(run.dialog, 11));
              SetDlgItemTextA(run.dialog, 11, "0");
              host::ui::Click(run.dialog, 10);
              EXPECT_EQ("0", host::ui::ItemText(run.dialog, 11));
              host::ui::PressEscape(run.dialog);
            }));
  const std::vector<std::string> expected = {"DialogBoxParamA", "SetDlgItemInt", "SetDlgItemTextA",
                                             "SetDlgItemInt", "EndDialog"};
  EXPECT_EQ(expected, host::Calls());
}

TEST_F(HostUiTest, DialogEndsOnlyByEndDialog) {
  // A user who walks away: on Windows the call would never return.
  messages.clear();
  EXPECT_EQ(-1, RunDialog([](const host::ui::DialogRun&) {}));
  EXPECT_EQ((std::vector<UINT>{WM_INITDIALOG, WM_DESTROY, WM_NCDESTROY}), messages);

  // Without a script the user closes it with the close box, as the default dialog
  // procedure turns that into IDCANCEL.
  messages.clear();
  EXPECT_EQ(7, RunDialog(nullptr));
  EXPECT_EQ((std::vector<UINT>{WM_INITDIALOG, WM_SYSCOMMAND, WM_CLOSE, WM_COMMAND, WM_DESTROY,
                               WM_NCDESTROY}),
            messages);
  auto dialogs = host::ui::Dialogs();
  ASSERT_EQ(2u, dialogs.size());
  EXPECT_FALSE(host::ui::IsDialogOpen(dialogs[1].dialog));
  EXPECT_EQ(-1, host::ui::Click(dialogs[1].dialog, IDCANCEL));
}

TEST_F(HostUiTest, QuitComesAfterThePostedMessages) {
  PostMessageA(nullptr, WM_USER, 1, 0);
  PostQuitMessage(3);
  PostMessageA(nullptr, WM_USER, 2, 0);
  MSG message;
  ASSERT_EQ(TRUE, GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(1u, message.wParam);
  ASSERT_EQ(TRUE, GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(2u, message.wParam);
  ASSERT_EQ(FALSE, GetMessageA(&message, nullptr, 0, 0));
  EXPECT_EQ(static_cast<UINT>(WM_QUIT), message.message);
  EXPECT_EQ(3u, message.wParam);
  EXPECT_FALSE(host::ui::QuitPending());
}

}  // namespace

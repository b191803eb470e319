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

TEST_F(HostUiTest, GetDlgItemIntReadsAsWindowsDoes) {
  const struct {
    const char* text;
    BOOL isSigned;
    BOOL translated;
    UINT value;
  } cases[] = {
      {"0", FALSE, TRUE, 0},
      {"42", FALSE, TRUE, 42},
      {"  42  ", FALSE, TRUE, 42},
      {"007", FALSE, TRUE, 7},
      {"4294967295", FALSE, TRUE, 4294967295u},
      {"4294967296", FALSE, FALSE, 0},
      {"", FALSE, FALSE, 0},
      {"   ", FALSE, FALSE, 0},
      {"-1", FALSE, FALSE, 0},
      {"+1", FALSE, FALSE, 0},
      {"12a", FALSE, FALSE, 0},
      {"1 2", FALSE, FALSE, 0},
      {"-5", TRUE, TRUE, static_cast<UINT>(-5)},
      {"2147483647", TRUE, TRUE, 2147483647u},
      {"2147483648", TRUE, FALSE, 0},
      {"-2147483648", TRUE, TRUE, 0x80000000u},
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

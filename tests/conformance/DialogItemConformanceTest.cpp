// How an item's text reads as a number (GetDlgItemInt), as Caskwell reads its entry boxes.
// Microsoft documents the translation: blanks at the start are skipped, a minus sign is taken
// when the value is signed, and the digits are read up to the end of the text or the first
// character that is not a digit; a value above INT_MAX (signed) or UINT_MAX (unsigned)
// translates nothing. Only what the documentation says is held here. Where it says nothing (a
// minus sign when unsigned, a plus sign, a tab) Wine 8 takes what strtoul takes; and it refuses
// 2147483647 and -2147483648 signed, which the documentation allows. Caskwell reads unsigned
// values and refuses any sign or tab itself.
#include <gtest/gtest.h>

#include <string>

#include "Win32Api.h"

namespace {

constexpr const char* kClass = "DorvaneConformanceItems";
constexpr int kItem = 5;

// A hidden window with one item: on Windows a child window of a class of ours, whose text
// DefWindowProc keeps (the stand-in gives every window its items by id).
class DialogItem : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClass;
    if (RegisterClassExA(&windowClass) == 0) {
      ASSERT_EQ(static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS), GetLastError());
    }
    parent_ = CreateWindowExA(0, kClass, "items", WS_OVERLAPPED, 0, 0, 200, 100, nullptr, nullptr,
                              windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, parent_) << "error " << GetLastError();
    HWND item = CreateWindowExA(0, kClass, "", WS_CHILD, 0, 0, 100, 20, parent_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kItem)),
                                windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, item) << "error " << GetLastError();
  }
  void TearDown() override {
    if (parent_ != nullptr) DestroyWindow(parent_);
  }

  HWND parent_ = nullptr;
};

TEST_F(DialogItem, GetDlgItemIntTranslatesAsDocumented) {
  const struct {
    const char* text;
    BOOL isSigned;
    bool translated;
    UINT value;
  } cases[] = {
      {"0", FALSE, true, 0},
      {"42", FALSE, true, 42},
      {"007", FALSE, true, 7},
      {"4294967295", FALSE, true, 4294967295u},
      // Blanks at the start are skipped; the translation stops at the first non-digit.
      {"   42", FALSE, true, 42},
      {"42   ", FALSE, true, 42},
      {"12x", FALSE, true, 12},
      {"1 2", FALSE, true, 1},
      {"0x10", FALSE, true, 0},
      {"3.5", FALSE, true, 3},
      // No digit, or more than the type holds.
      {"", FALSE, false, 0},
      {"   ", FALSE, false, 0},
      {"x12", FALSE, false, 0},
      {"4294967296", FALSE, false, 0},
      {"99999999999x", FALSE, false, 0},
      // Signed: a minus sign at the start.
      {"42", TRUE, true, 42},
      {"-5", TRUE, true, static_cast<UINT>(-5)},
      {"   -3", TRUE, true, static_cast<UINT>(-3)},
      {"-12x", TRUE, true, static_cast<UINT>(-12)},
      {"2147483646", TRUE, true, 2147483646u},
      {"2147483648", TRUE, false, 0},
      {"-", TRUE, false, 0},
      {"- 3", TRUE, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"" + (c.isSigned ? " signed" : ""));
    ASSERT_TRUE(SetDlgItemTextA(parent_, kItem, c.text));
    BOOL translated = 2;
    EXPECT_EQ(c.value, GetDlgItemInt(parent_, kItem, &translated, c.isSigned));
    EXPECT_EQ(c.translated, translated != FALSE);
    // Without a place for the flag, the same value.
    EXPECT_EQ(c.value, GetDlgItemInt(parent_, kItem, nullptr, c.isSigned));
  }
}

}  // namespace

// Drives Caskwell's settings dialog from another process, as a user would, and checks what
// the dialog shows and what it writes to the scheme store. Runs under Wine beside
// Caskwell.exe (see run-dialog-test.sh), in the same prefix, on the same X display.
//
//   DialogDriver without-s3   before Caskwell starts: the machine reports no standby (S3)
//   DialogDriver layout EXE   dialog 129 in EXE, and the live dialog's caption, size and every
//                             control, against the table; the other resources in EXE (strings,
//                             icons, menu, accelerators, the about box)
//   DialogDriver drive        all four rows and both check boxes, with their effects
//   DialogDriver geometry     prints the dialog's screen rectangle: "x y width height"
//   DialogDriver close        presses "Close" and waits until the dialog is gone
//
// Prints "ok: ..." per check and "FAIL: ..." per failure; exits 1 when anything failed.
#include <windows.h>
#include <powrprof.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kCaption = "Dorvane Power Management Library Test Suite";
constexpr const char* kUserPolicies = "Control Panel\\PowerCfg\\PowerPolicies\\0";
constexpr const char* kMachinePowerCfg =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg";
constexpr const char* kMachinePolicies =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\PowerPolicies\\0";

constexpr const char* kNotWholeMinutes =
    "The new time-out must be a whole number of minutes from 0 to 4294967295.";
constexpr const char* kNoPrivileges =
    "PwrScheme::commit(): Current User has insufficient priviledges to write active power scheme "
    "and no override has been set.->System Error: ";

int failures = 0;

void Check(bool good, const std::string& what) {
  std::printf("%s: %s\n", good ? "ok" : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!good) ++failures;
}

template <typename T>
void CheckEqual(const T& expected, const T& actual, const std::string& what) {
  bool good = expected == actual;
  Check(good, good ? what : what + " (expected " + std::to_string(expected) + ", got " +
                                std::to_string(actual) + ")");
}

void CheckText(const std::string& expected, const std::string& actual, const std::string& what) {
  bool good = expected == actual;
  Check(good, good ? what : what + " (expected \"" + expected + "\", got \"" + actual + "\")");
}

HWND FindDialog(const char* caption, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 50) {
    HWND found = FindWindowA("#32770", caption);
    if (found != nullptr || waited >= timeoutMs) return found;
    Sleep(50);
  }
}

// WM_GETTEXT, not GetWindowTextA: across processes the latter does not read an edit box.
std::string WindowText(HWND window) {
  char text[512] = "";
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ItemText(HWND dialog, int id) {
  char text[512] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

// ---- The template, as the dialog must show it ------------------------------------------------

enum Kind { kDefButton, kButton, kEdit, kLabel, kTitle, kCheckBox };

struct Control {
  int id;  // 0xFFFF: a label without identifier
  Kind kind;
  const char* text;  // for edit boxes the initial content
  int x, y, w, h;
};

constexpr int kNoId = 0xFFFF;

const Control kTemplate[] = {
    {1004, kDefButton, "Get", 139, 36, 48, 14},
    {2, kButton, "Close", 101, 272, 50, 14},
    {1003, kEdit, "", 194, 36, 19, 13},
    {kNoId, kLabel, " minutes.", 214, 38, 34, 11},
    {kNoId, kLabel, "Current User Monitor settings...", 33, 38, 100, 11},
    {1005, kDefButton, "Set to...", 139, 54, 48, 14},
    {1006, kEdit, "5", 194, 55, 19, 13},
    {kNoId, kLabel, " minutes.", 214, 57, 34, 11},
    {kNoId, kLabel, "Change User Monitor settings...", 33, 56, 100, 11},
    {1007, kDefButton, "Get", 139, 89, 48, 14},
    {1008, kEdit, "", 193, 89, 19, 13},
    {kNoId, kLabel, " minutes.", 213, 92, 34, 11},
    {kNoId, kLabel, "Current User Standby settings...", 32, 92, 103, 11},
    {1009, kDefButton, "Set to...", 139, 108, 48, 14},
    {1010, kEdit, "10", 193, 109, 19, 13},
    {kNoId, kLabel, " minutes.", 213, 110, 34, 11},
    {kNoId, kLabel, "Change User Standby settings...", 32, 110, 104, 11},
    {kNoId, kLabel, "Monitor Power Management Settings", 13, 27, 122, 11},
    {kNoId, kTitle, "Power Management Library Test Suite", 6, 1, 251, 19},
    {kNoId, kLabel, "System Standby Power Management Settings", 12, 79, 147, 10},
    {1011, kDefButton, "Get", 141, 204, 48, 14},
    {1012, kEdit, "", 195, 204, 19, 13},
    {kNoId, kLabel, " minutes.", 215, 207, 34, 11},
    {kNoId, kLabel, "Current Machine Hibernation settings...", 13, 207, 124, 11},
    {1013, kDefButton, "Set to...", 141, 223, 48, 14},
    {1014, kEdit, "20", 195, 223, 19, 13},
    {kNoId, kLabel, " minutes.", 215, 224, 34, 11},
    {kNoId, kLabel, "Change Machine Hibernation settings...", 12, 224, 126, 11},
    {kNoId, kLabel, "System Hibernation Settings", 11, 193, 147, 10},
    {1016, kDefButton, "Get", 139, 147, 48, 14},
    {1017, kEdit, "", 193, 147, 19, 13},
    {kNoId, kLabel, " minutes.", 213, 150, 34, 11},
    {kNoId, kLabel, "Current Machine Standby settings...", 16, 150, 118, 11},
    {1018, kDefButton, "Set to...", 139, 166, 48, 14},
    {1019, kEdit, "15", 193, 167, 19, 13},
    {kNoId, kLabel, " minutes.", 213, 168, 34, 11},
    {kNoId, kLabel, "Change Machine Standby settings...", 15, 168, 120, 11},
    {kNoId, kLabel, "System Standby Power Management Settings", 11, 136, 147, 10},
    {1020, kCheckBox, "Allow Unpriviledged User", 143, 244, 10, 12},
    {1021, kCheckBox, "Force System Standby", 143, 256, 12, 10},
    {kNoId, kLabel, "Allow Unpriviledged User", 18, 243, 103, 11},
    {kNoId, kLabel, "Force System Standby", 18, 256, 88, 11},
};

const char* ClassOf(Kind kind) {
  switch (kind) {
    case kEdit:
      return "Edit";
    case kLabel:
    case kTitle:
      return "Static";
    default:
      return "Button";
  }
}

// The template's style of each kind of control, WS_GROUP aside (the resource compiler adds
// it to texts).
DWORD TemplateStyle(const Control& c) {
  const DWORD base = WS_CHILD | WS_VISIBLE;
  switch (c.kind) {
    case kDefButton:
      return base | WS_TABSTOP | BS_DEFPUSHBUTTON;
    case kButton:
      return base | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER;
    case kEdit:
      return base | WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL;
    case kCheckBox:
      return base | WS_TABSTOP | BS_AUTOCHECKBOX;
    case kTitle:
      return base | WS_BORDER | SS_CENTER | SS_CENTERIMAGE;
    case kLabel:
      return base | SS_LEFT;
  }
  return 0;
}

// What a live control keeps of its template style. The dialog manager moves the default-button
// style with the focus, and edit boxes and texts draw a WS_BORDER as a client edge.
void CheckLiveStyle(const Control& c, HWND child, const std::string& name) {
  LONG style = GetWindowLongA(child, GWL_STYLE);
  LONG ex = GetWindowLongA(child, GWL_EXSTYLE);
  bool bordered = (style & WS_BORDER) || (ex & WS_EX_CLIENTEDGE);
  switch (c.kind) {
    case kDefButton:
    case kButton:
      Check((style & WS_TABSTOP) && ((style & BS_TYPEMASK) == BS_PUSHBUTTON ||
                                     (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON),
            name + " is a push button and a tab stop");
      break;
    case kEdit:
      Check((style & WS_TABSTOP) && (style & ES_AUTOHSCROLL) && !(style & ES_NUMBER) && bordered,
            name + " is a bordered, scrolling tab stop that takes any text");
      break;
    case kCheckBox:
      Check((style & WS_TABSTOP) && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX,
            name + " is an automatic check box and a tab stop");
      break;
    case kTitle:
      Check((style & SS_TYPEMASK) == SS_CENTER && (style & SS_CENTERIMAGE) && bordered,
            name + " is centred both ways and bordered");
      break;
    case kLabel:
      Check((style & SS_TYPEMASK) == SS_LEFT, name + " is a left-aligned text");
      break;
  }
}

// ---- The template in Caskwell.exe ----------------------------------------------------------

struct TemplateReader {
  const BYTE* p;
  WORD Word() {
    WORD w;
    std::memcpy(&w, p, 2);
    p += 2;
    return w;
  }
  DWORD Dword() {
    DWORD d;
    std::memcpy(&d, p, 4);
    p += 4;
    return d;
  }
  short Short() { return static_cast<short>(Word()); }
  // A string or, after 0xFFFF, a number ("#n").
  std::string NameOrNumber() {
    WORD first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  void AlignDword(const BYTE* base) {
    while ((p - base) % 4) ++p;
  }
};

// Reads dialog 129 from the program file and checks it against the table, styles included.
void CheckTemplate(const char* program) {
  HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module ? FindResourceExA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */,
                                         MAKEINTRESOURCEA(129),
                                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))
                       : nullptr;
  Check(found != nullptr, "dialog 129 in language 1033 found in the program file");
  if (found == nullptr) return;
  const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  TemplateReader r{base};
  DWORD style = r.Dword();
  r.Dword();  // extended style
  WORD count = r.Word();
  short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
  CheckEqual<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, style,
                    "template dialog style");
  Check(x == 0 && y == 0 && cx == 264 && cy == 290, "template dialog at (0, 0), 264 by 290");
  r.NameOrNumber();  // menu
  r.NameOrNumber();  // class
  CheckText(kCaption, r.NameOrNumber(), "template caption");
  CheckEqual<WORD>(8, r.Word(), "template font size");
  CheckText("MS Sans Serif", r.NameOrNumber(), "template font");

  const size_t expected = sizeof kTemplate / sizeof kTemplate[0];
  CheckEqual<size_t>(expected, count, "template item count");
  for (size_t i = 0; i < count && i < expected; ++i) {
    const Control& c = kTemplate[i];
    r.AlignDword(base);
    DWORD itemStyle = r.Dword();
    r.Dword();
    short ix = r.Short(), iy = r.Short(), iw = r.Short(), ih = r.Short();
    WORD id = r.Word();
    std::string cls = r.NameOrNumber();
    std::string text = r.NameOrNumber();
    WORD extra = r.Word();
    r.p += extra;
    std::string name = "template item " + std::to_string(i + 1) + " (" + std::to_string(c.id) + ")";
    CheckEqual<int>(c.id, id, name + " identifier");
    CheckEqual<DWORD>(TemplateStyle(c), itemStyle & ~static_cast<DWORD>(WS_GROUP), name + " style");
    Check(ix == c.x && iy == c.y && iw == c.w && ih == c.h, name + " position and size");
    if (c.kind != kEdit) CheckText(c.text, text, name + " text");
    // The class by its atom number, or by name (the resource compiler keeps CONTROL's name).
    const char* atom = c.kind == kEdit ? "#129" : (c.kind == kLabel || c.kind == kTitle) ? "#130" : "#128";
    Check(cls == atom || lstrcmpiA(cls.c_str(), ClassOf(c.kind)) == 0,
          name + " class " + ClassOf(c.kind) + ", is " + cls);
  }
  FreeLibrary(module);
}

// ---- The other resources in Caskwell.exe ------------------------------------------------------

// A resource of the program in language 1033, or null (reported) when there is none.
const BYTE* FindEnglish(HMODULE module, WORD type, WORD id, const std::string& what) {
  HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(id),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  Check(found != nullptr, what + " in language 1033 found in the program file");
  return found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
}

// String n of a string-table block (the block of id holds ids 16 * (block - 1) to + 15).
std::string BlockString(const BYTE* block, UINT id) {
  TemplateReader r{block};
  for (UINT i = 0; i < id % 16; ++i) r.p += 2 * r.Word();
  std::string text;
  for (WORD n = r.Word(); n > 0; --n) text += static_cast<char>(r.Word());
  return text;
}

// The menu as lines: "popup TEXT", "item ID TEXT", "separator", "end" after each popup.
void ReadMenu(TemplateReader& r, std::vector<std::string>* lines) {
  for (;;) {
    WORD flags = r.Word();
    if (flags & MF_POPUP) {
      lines->push_back("popup " + r.NameOrNumber());
      ReadMenu(r, lines);
    } else {
      WORD id = r.Word();
      std::string text = r.NameOrNumber();
      lines->push_back(id == 0 && text.empty() ? "separator"
                                               : "item " + std::to_string(id) + " " + text);
    }
    if (flags & MF_END) break;
  }
  lines->push_back("end");
}

// Strings, icons, menu and accelerators of the main window, and the about box (dialog 103).
void CheckResources(const char* program) {
  HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  Check(module != nullptr, "program file opened for its resources");
  if (module == nullptr) return;

  if (const BYTE* block = FindEnglish(module, 6 /* RT_STRING */, 103 / 16 + 1, "string block 7")) {
    CheckText("Caskwell", BlockString(block, 103), "string 103");
    CheckText("Youcan now exit this program.", BlockString(block, 106), "string 106");
    CheckText("CASKWELL", BlockString(block, 109), "string 109");
  }

  // Icon groups: one image each, 32 x 32 in 256 colours and 16 x 16 in 16 colours.
  const struct {
    WORD id;
    BYTE size, colours;
    WORD bits;
  } icons[] = {{107, 32, 0, 8}, {108, 16, 16, 4}};
  for (const auto& icon : icons) {
    std::string name = "icon group " + std::to_string(icon.id);
    const BYTE* group = FindEnglish(module, 14 /* RT_GROUP_ICON */, icon.id, name);
    if (group == nullptr) continue;
    TemplateReader r{group};
    r.Word();
    r.Word();
    CheckEqual<WORD>(1, r.Word(), name + " image count");
    BYTE width = *r.p++, height = *r.p++, colours = *r.p++;
    ++r.p;
    r.Word();
    WORD bits = r.Word();
    Check(width == icon.size && height == icon.size && colours == icon.colours && bits == icon.bits,
          name + " is " + std::to_string(icon.size) + " pixels square, " +
              std::to_string(icon.bits) + " bits per pixel");
  }

  if (const BYTE* menu = FindEnglish(module, 4 /* RT_MENU */, 109, "menu 109")) {
    TemplateReader r{menu};
    r.Dword();  // version and header size
    std::vector<std::string> lines;
    ReadMenu(r, &lines);
    const std::vector<std::string> expected = {
        "popup &File", "item 32771 Power Settings Test...", "separator", "item 105 E&xit", "end",
        "popup &Help", "item 104 &About ...",                "end",       "end"};
    std::string got;
    for (const std::string& line : lines) got += line + "; ";
    Check(lines == expected, "menu 109 (" + got + ")");
  }

  if (const BYTE* table = FindEnglish(module, 9 /* RT_ACCELERATOR */, 109, "accelerators 109")) {
    const struct {
      WORD flags, key, command;
    } expected[] = {{FALT, '/', 104}, {FALT, '?', 104}, {FVIRTKEY | FCONTROL, 'P', 32771}};
    TemplateReader r{table};
    size_t i = 0;
    for (WORD flags = 0; !(flags & 0x80) && i < 8; ++i) {
      flags = r.Word();
      WORD key = r.Word(), command = r.Word();
      r.Word();
      std::string name = "accelerator " + std::to_string(i + 1);
      if (i >= 3) continue;
      Check((flags & ~0x80) == expected[i].flags && key == expected[i].key &&
                command == expected[i].command,
            name + " (flags " + std::to_string(flags) + ", key " + std::to_string(key) +
                ", command " + std::to_string(command) + ")");
    }
    CheckEqual<size_t>(3, i, "accelerator count");
  }

  if (const BYTE* about = FindEnglish(module, 5 /* RT_DIALOG */, 103, "dialog 103")) {
    TemplateReader r{about};
    DWORD style = r.Dword();
    r.Dword();
    WORD count = r.Word();
    short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
    CheckEqual<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU, style,
                      "about box style");
    Check(x == 22 && y == 17 && cx == 230 && cy == 75, "about box at (22, 17), 230 by 75");
    r.NameOrNumber();
    r.NameOrNumber();
    CheckText("About", r.NameOrNumber(), "about box caption");
    CheckEqual<WORD>(8, r.Word(), "about box font size");
    CheckText("System", r.NameOrNumber(), "about box font");
    bool icon = false, version = false, ok = false;
    for (WORD i = 0; i < count; ++i) {
      r.AlignDword(about);
      DWORD itemStyle = r.Dword();
      r.Dword();
      short ix = r.Short(), iy = r.Short(), iw = r.Short(), ih = r.Short();
      WORD id = r.Word();
      std::string cls = r.NameOrNumber();
      std::string text = r.NameOrNumber();
      r.p += r.Word();
      if (cls == "#130" && text == "#107") {
        icon = (itemStyle & SS_TYPEMASK) == SS_ICON && ix == 14 && iy == 9;
      } else if (text == "Caskwell Version 1.0") {
        // Ampersands shown as they are.
        version = cls == "#130" && (itemStyle & SS_NOPREFIX) && ix == 49 && iy == 10;
      } else if (id == IDOK) {
        ok = cls == "#128" && text == "OK" && (itemStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
             ix == 195 && iy == 6 && iw == 30 && ih == 11;
      }
    }
    Check(icon, "about box shows icon 107 at (14, 9)");
    Check(version, "about box shows \"Caskwell Version 1.0\" at (49, 10), without prefix");
    Check(ok, "about box has the default button \"OK\" (1) at (195, 6), 30 by 11");
  }
  FreeLibrary(module);
}

// The dialog base units of the template's font, computed as the dialog manager does: the
// average width of the letters and the height of the font.
void DialogBaseUnits(LONG* x, LONG* y) {
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_DONTCARE,
                           FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE,
                           "MS Sans Serif");
  HGDIOBJ old = SelectObject(dc, font);
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE size;
  GetTextExtentPoint32A(dc, kLetters, 52, &size);
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  *x = (size.cx / 26 + 1) / 2;
  *y = metrics.tmHeight;
  char face[LF_FACESIZE] = "";
  GetTextFaceA(dc, sizeof face, face);
  std::printf("info: \"MS Sans Serif\" 8 pt is \"%s\" here; base units %ld x %ld\n", face, *x, *y);
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

int Layout(HWND dialog, const char* program) {
  CheckTemplate(program);
  CheckResources(program);

  CheckText(kCaption, WindowText(dialog), "dialog caption");
  LONG style = GetWindowLongA(dialog, GWL_STYLE);
  Check((style & (WS_POPUP | WS_CAPTION | WS_SYSMENU)) == (WS_POPUP | WS_CAPTION | WS_SYSMENU),
        "dialog is a popup with caption and system menu");
  Check((GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) != 0, "dialog has a modal frame");
  Check(GetWindow(dialog, GW_OWNER) == nullptr, "dialog has no owner");
  Check(FindWindowA("CASKWELL", "Caskwell") != nullptr, "main window exists");
  Check(!IsWindowVisible(FindWindowA("CASKWELL", "Caskwell")), "main window is hidden");

  LONG baseX = 0, baseY = 0;
  DialogBaseUnits(&baseX, &baseY);
  RECT size = ToPixels(0, 0, 264, 290, baseX, baseY);
  RECT client;
  GetClientRect(dialog, &client);
  CheckEqual<long>(size.right, client.right, "dialog client width is 264 units");
  CheckEqual<long>(size.bottom, client.bottom, "dialog client height is 290 units");

  // Children in creation order: the template order, which is also the tab order.
  std::vector<HWND> children;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  const size_t expected = sizeof kTemplate / sizeof kTemplate[0];
  CheckEqual(expected, children.size(), "number of controls");
  for (size_t i = 0; i < expected && i < children.size(); ++i) {
    const Control& c = kTemplate[i];
    HWND child = children[i];
    std::string name = "control " + std::to_string(i + 1) + " (" + std::to_string(c.id) + " \"" +
                       c.text + "\")";
    CheckEqual(c.id, GetDlgCtrlID(child) & 0xFFFF, name + " identifier");
    char cls[64] = "";
    GetClassNameA(child, cls, sizeof cls);
    Check(lstrcmpiA(cls, ClassOf(c.kind)) == 0, name + " class " + ClassOf(c.kind) + ", is " + cls);
    CheckText(c.text, WindowText(child), name + " text");
    CheckLiveStyle(c, child, name);

    RECT want = ToPixels(c.x, c.y, c.w, c.h, baseX, baseY);
    RECT got;
    GetWindowRect(child, &got);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&got), 2);
    bool same = EqualRect(&want, &got);
    char where[160];
    std::snprintf(where, sizeof where, " at (%ld,%ld)-(%ld,%ld), template gives (%ld,%ld)-(%ld,%ld)",
                  got.left, got.top, got.right, got.bottom, want.left, want.top, want.right,
                  want.bottom);
    Check(same, name + " position and size" + (same ? "" : where));
    if (c.kind == kCheckBox) {
      CheckEqual<LRESULT>(BST_UNCHECKED, SendMessageA(child, BM_GETCHECK, 0, 0), name + " cleared");
    }
  }
  return failures ? 1 : 0;
}

// ---- Acting on the dialog ----------------------------------------------------------------

// A click whose handling must finish without a message box.
void Click(HWND dialog, int id, const std::string& what) {
  DWORD_PTR result = 0;
  LRESULT done = SendMessageTimeoutA(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG,
                                     10000, &result);
  Check(done != 0, what);
  if (!done) {
    // Most likely a message box came up: report and dismiss it so the run can go on.
    HWND box = FindWindowA("#32770", nullptr);
    if (box && box != dialog) {
      std::printf("FAIL: unexpected box \"%s\": %s\n", WindowText(box).c_str(),
                  ItemText(box, 0xFFFF).c_str());
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  }
}

// A click that must bring up a message box without owner, with one OK button, the given
// caption and text; the box is dismissed and the dialog must be usable again.
void ClickExpectingBox(HWND dialog, int id, const char* caption, const std::string& text,
                       const std::string& what) {
  PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
  HWND box = FindDialog(caption, 10000);
  Check(box != nullptr, what + ": box \"" + caption + "\" shown");
  if (box == nullptr) return;
  CheckText(text, ItemText(box, 0xFFFF), what + ": box text");
  Check(GetWindow(box, GW_OWNER) == nullptr, what + ": box has no owner");
  int buttons = 0;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    char cls[32] = "";
    GetClassNameA(c, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0) ++buttons;
  }
  CheckEqual(1, buttons, what + ": box has a single button");
  Check(IsWindowEnabled(dialog) != FALSE, what + ": dialog stays enabled while the box is up");
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  for (int i = 0; i < 200 && IsWindow(box); ++i) Sleep(25);
  Check(!IsWindow(box), what + ": box dismissed");
}

void Type(HWND dialog, int id, const char* text) { SetDlgItemTextA(dialog, id, text); }

void Tick(HWND dialog, int id, LRESULT expected, const std::string& what) {
  Click(dialog, id, what);
  CheckEqual<LRESULT>(expected, SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0),
                      what + ": box state");
}

// ---- The scheme store ----------------------------------------------------------------------

bool ReadBinary(HKEY root, const char* path, void* out, DWORD size) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD got = size;
  LONG rc = RegQueryValueExA(key, "Policies", nullptr, &type, static_cast<BYTE*>(out), &got);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_BINARY && got == size;
}

USER_POWER_POLICY StoredUser() {
  USER_POWER_POLICY user{};
  Check(ReadBinary(HKEY_CURRENT_USER, kUserPolicies, &user, sizeof user), "user half readable");
  return user;
}

MACHINE_POWER_POLICY StoredMachine() {
  MACHINE_POWER_POLICY mach{};
  Check(ReadBinary(HKEY_LOCAL_MACHINE, kMachinePolicies, &mach, sizeof mach),
        "machine half readable");
  return mach;
}

// Makes the current user one who may not write power schemes: the machine's power
// configuration key no longer grants write access.
bool TakeAwaySchemeWriteRight() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachinePowerCfg, 0, WRITE_DAC | READ_CONTROL, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
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
  LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(key);
  FreeSid(everyone);
  if (rc != ERROR_SUCCESS) return false;
  HKEY probe;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachinePowerCfg, 0, KEY_WRITE, &probe) == ERROR_SUCCESS) {
    RegCloseKey(probe);
    return false;
  }
  return true;
}

// ---- The session ---------------------------------------------------------------------------

// What this platform's GetDlgItemInt makes of a few texts, for the record: the dialog must
// refuse them all the same.
void ReportPlatformReading(HWND dialog) {
  for (const char* text : {"-5", "+5", "12x", " 7 ", "4294967295"}) {
    Type(dialog, 1006, text);
    BOOL translated = FALSE;
    UINT value = GetDlgItemInt(dialog, 1006, &translated, FALSE);
    std::printf("info: GetDlgItemInt(\"%s\") = %u, translated %d\n", text, value, translated);
  }
}

int Drive(HWND dialog) {
  const MACHINE_POWER_POLICY machineAtStart = StoredMachine();

  // The active scheme as the fixture has it: monitor 20 minutes, everything else 0.
  const struct {
    int get, display;
    const char* shown;
  } initial[] = {{1004, 1003, "20"}, {1007, 1008, "0"}, {1016, 1017, "0"}, {1011, 1012, "0"}};
  for (const auto& row : initial) {
    Click(dialog, row.get, "Get " + std::to_string(row.get));
    CheckText(row.shown, ItemText(dialog, row.display), "display " + std::to_string(row.display));
  }

  // User monitor: applied and committed; the display waits for "Get".
  Type(dialog, 1006, "7");
  Click(dialog, 1005, "Set user monitor to 7");
  CheckEqual<unsigned long>(420, StoredUser().VideoTimeoutAc, "stored monitor time-out");
  CheckText("20", ItemText(dialog, 1003), "monitor display unchanged until Get");
  Click(dialog, 1004, "Get user monitor");
  CheckText("7", ItemText(dialog, 1003), "monitor display after Get");

  // Entries that are not whole minutes apply nothing, whatever GetDlgItemInt makes of them.
  ReportPlatformReading(dialog);
  for (const char* text : {"-5", "+5", "12x", "", "4294967296", "abc"}) {
    Type(dialog, 1006, text);
    ClickExpectingBox(dialog, 1005, "Set User Monitor Timeout Error", kNotWholeMinutes,
                      std::string("Set user monitor to \"") + text + "\"");
  }
  CheckEqual<unsigned long>(420, StoredUser().VideoTimeoutAc, "monitor time-out still 7 minutes");

  // No standby on this machine: both standby rows are refused until "Force System Standby".
  Type(dialog, 1010, "12");
  ClickExpectingBox(dialog, 1009, "Set User Standby Error",
                    "PwrScheme::SetUserAcStandbyTimeOut(): System is not capable of Power Suspend"
                    "->System Error: ",
                    "Set user standby without S3");
  ClickExpectingBox(dialog, 1018, "Set Machine Standby Error",
                    "PwrScheme::SetMachAcStandbyTimeOut(): System is not capable of Power Suspend "
                    "in Sleep State S3.->System Error: ",
                    "Set machine standby without S3");
  CheckEqual<unsigned long>(0, StoredUser().IdleTimeoutAc, "user standby not stored");
  CheckEqual<unsigned long>(0, StoredMachine().DozeTimeoutAc, "machine standby not stored");

  Tick(dialog, 1021, BST_CHECKED, "tick Force System Standby");
  Click(dialog, 1009, "Set user standby to 12, forced");
  USER_POWER_POLICY user = StoredUser();
  CheckEqual<unsigned long>(720, user.IdleTimeoutAc, "stored user standby time-out");
  CheckEqual<int>(PowerActionSleep, user.IdleAc.Action, "stored standby action");
  Click(dialog, 1018, "Set machine standby to 15, forced");
  CheckEqual<unsigned long>(900, StoredMachine().DozeTimeoutAc, "stored machine standby time-out");
  Click(dialog, 1007, "Get user standby");
  CheckText("12", ItemText(dialog, 1008), "user standby display");
  Click(dialog, 1016, "Get machine standby");
  CheckText("15", ItemText(dialog, 1017), "machine standby display");

  // Hibernation: the apply stores the delay after the user standby (12), the display adds
  // it back; the machine standby (15) plays no part: 30 goes in, 30 comes out.
  Type(dialog, 1014, "30");
  Click(dialog, 1013, "Set machine hibernation to 30");
  CheckEqual<unsigned long>(1080, StoredMachine().DozeS4TimeoutAc, "stored hibernation delay");
  Click(dialog, 1011, "Get machine hibernation");
  CheckText("30", ItemText(dialog, 1012), "hibernation display");
  // A total that does not come after the user standby is refused; nothing is stored.
  Type(dialog, 1014, "12");
  ClickExpectingBox(dialog, 1013, "Set Machine Hibernate Error",
                    "PwrScheme::SetMachAcHibernateTimeOut(): Hibernation time-out is not longer "
                    "than the Standby time-out->System Error: ",
                    "Set machine hibernation to the standby time-out");
  CheckEqual<unsigned long>(1080, StoredMachine().DozeS4TimeoutAc, "hibernation delay kept");

  // A user who may not write schemes: refused, until "Allow Unpriviledged User" lets the
  // commit write the user half straight into the active scheme's per-user value.
  Check(TakeAwaySchemeWriteRight(), "scheme write right taken away");
  const MACHINE_POWER_POLICY machineBefore = StoredMachine();
  Type(dialog, 1006, "9");
  ClickExpectingBox(dialog, 1005, "Set User Monitor Timeout Error", kNoPrivileges,
                    "Set user monitor without the right to write schemes");
  CheckEqual<unsigned long>(420, StoredUser().VideoTimeoutAc, "monitor time-out unchanged");
  Tick(dialog, 1020, BST_CHECKED, "tick Allow Unpriviledged User");
  Click(dialog, 1005, "Set user monitor to 9 through the override");
  CheckEqual<unsigned long>(540, StoredUser().VideoTimeoutAc, "override stored the monitor time-out");
  MACHINE_POWER_POLICY machineAfter = StoredMachine();
  Check(std::memcmp(&machineBefore, &machineAfter, sizeof machineAfter) == 0,
        "override left the machine half alone");
  Check(std::memcmp(&machineAtStart, &machineAfter, sizeof machineAfter) != 0,
        "machine half changed by the earlier applies");
  Click(dialog, 1004, "Get user monitor");
  CheckText("9", ItemText(dialog, 1003), "monitor display after the override");
  return failures ? 1 : 0;
}

int WithoutS3() {
  SYSTEM_POWER_CAPABILITIES caps{};
  if (!GetPwrCapabilities(&caps)) {
    Check(false, "GetPwrCapabilities");
    return 1;
  }
  caps.SystemS3 = FALSE;
  HKEY key;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMachinePowerCfg, 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key, "StandInCapabilities", 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(&caps), sizeof caps);
    RegCloseKey(key);
  }
  Check(rc == ERROR_SUCCESS, "capabilities without S3 stored");
  return failures ? 1 : 0;
}

int Close(HWND dialog) {
  PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  for (int i = 0; i < 400 && IsWindow(dialog); ++i) Sleep(25);
  Check(!IsWindow(dialog), "dialog closed by Close");
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "without-s3") return WithoutS3();

  HWND dialog = FindDialog(kCaption, 30000);
  if (dialog == nullptr) {
    std::printf("FAIL: no window \"%s\"\n", kCaption);
    return 1;
  }
  if (mode == "layout") return Layout(dialog, argc > 2 ? argv[2] : "Caskwell.exe");
  if (mode == "drive") return Drive(dialog);
  if (mode == "close") return Close(dialog);
  if (mode == "geometry") {
    RECT r;
    GetWindowRect(dialog, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  std::printf("usage: DialogDriver without-s3|layout EXE|drive|geometry|close\n");
  return 2;
}

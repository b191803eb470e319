// The resources of Caskwell.exe, read from the program file with the resource calls: the
// settings dialog's template against the layout table, the strings, icons, menu and
// accelerators of the main window, and the about box. All in language 1033.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "Programs.h"
#include "SettingsLayout.h"

namespace {

using caskwell::ResourceReader;

constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The template's style of each kind of control, WS_GROUP aside (the resource compiler adds
// it to texts).
DWORD TemplateStyle(caskwell::Kind kind) {
  const DWORD base = WS_CHILD | WS_VISIBLE;
  switch (kind) {
    case caskwell::kDefButton:
      return base | WS_TABSTOP | BS_DEFPUSHBUTTON;
    case caskwell::kButton:
      return base | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER;
    case caskwell::kEdit:
      return base | WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL;
    case caskwell::kCheckBox:
      return base | WS_TABSTOP | BS_AUTOCHECKBOX;
    case caskwell::kTitle:
      return base | WS_BORDER | SS_CENTER | SS_CENTERIMAGE;
    case caskwell::kLabel:
      return base | SS_LEFT;
  }
  return 0;
}

// The class of a template item by its atom number ("#128" and on), or by name (the resource
// compiler keeps the name a CONTROL statement gives).
bool SameClass(const std::string& found, caskwell::Kind kind) {
  const char* atom = kind == caskwell::kEdit                                ? "#129"
                     : kind == caskwell::kLabel || kind == caskwell::kTitle ? "#130"
                                                                            : "#128";
  return found == atom || lstrcmpiA(found.c_str(), caskwell::ClassOf(kind)) == 0;
}

// String n of a string-table block (the block of id holds ids 16 * (block - 1) to + 15).
std::string BlockString(const BYTE* block, UINT id) {
  ResourceReader r{block};
  for (UINT i = 0; i < id % 16; ++i) r.p += 2 * r.Word();
  std::string text;
  for (WORD n = r.Word(); n > 0; --n) text += static_cast<char>(r.Word());
  return text;
}

// The menu as lines: "popup TEXT", "item ID TEXT", "separator", "end" after each popup.
void ReadMenu(ResourceReader& r, std::vector<std::string>* lines) {
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

// A dialog template's header (DLGTEMPLATE, with the font that DS_SETFONT adds).
struct DialogHeader {
  DWORD style;
  WORD count;
  std::vector<short> box;  // x, y, width, height
  std::string caption;
  WORD fontSize;
  std::string font;
};

DialogHeader ReadDialogHeader(ResourceReader& r) {
  DialogHeader h;
  h.style = r.Dword();
  r.Dword();  // extended style
  h.count = r.Word();
  for (int i = 0; i < 4; ++i) h.box.push_back(r.Short());
  r.NameOrNumber();  // menu
  r.NameOrNumber();  // class
  h.caption = r.NameOrNumber();
  h.fontSize = r.Word();
  h.font = r.NameOrNumber();
  return h;
}

// One item of a dialog template (DLGITEMTEMPLATE), which starts at a four-byte boundary from
// the template's start, `base`.
struct DialogItem {
  DWORD style;
  short x, y, w, h;
  WORD id;
  std::string cls, text;
};

DialogItem ReadDialogItem(ResourceReader& r, const BYTE* base) {
  DialogItem item;
  r.AlignDword(base);
  item.style = r.Dword();
  r.Dword();  // extended style
  item.x = r.Short();
  item.y = r.Short();
  item.w = r.Short();
  item.h = r.Short();
  item.id = r.Word();
  item.cls = r.NameOrNumber();
  item.text = r.NameOrNumber();
  r.p += r.Word();  // creation data
  return item;
}

class CaskwellProgramFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = winetest::ProgramDir() + "Caskwell.exe";
    module_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_) << path << ": error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // The resource in language 1033, or null.
  const BYTE* English(WORD type, WORD id) {
    HRSRC found = FindResourceExA(module_, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(id), kEnglish);
    return found ? static_cast<const BYTE*>(LockResource(LoadResource(module_, found))) : nullptr;
  }

  HMODULE module_ = nullptr;
};

TEST_F(CaskwellProgramFile, SettingsDialogTemplateMatchesTheLayoutTable) {
  const BYTE* base = English(5 /* RT_DIALOG */, caskwell::kSettingsDialogId);
  ASSERT_NE(nullptr, base);
  ResourceReader r{base};
  const DialogHeader dialog = ReadDialogHeader(r);
  EXPECT_EQ(static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU),
            dialog.style);
  EXPECT_EQ((std::vector<short>{0, 0, 264, 290}), dialog.box);
  EXPECT_EQ(caskwell::kCaption, dialog.caption);
  EXPECT_EQ(8, dialog.fontSize) << "font size";
  EXPECT_EQ("MS Sans Serif", dialog.font);

  ASSERT_EQ(caskwell::kSettingsItems, dialog.count);
  for (size_t i = 0; i < dialog.count; ++i) {
    const caskwell::Control& c = caskwell::kSettingsTemplate[i];
    SCOPED_TRACE(caskwell::NameOf(i));
    const DialogItem item = ReadDialogItem(r, base);
    EXPECT_EQ(c.id, item.id);
    EXPECT_EQ(TemplateStyle(c.kind), item.style & ~static_cast<DWORD>(WS_GROUP));
    EXPECT_EQ((std::vector<int>{c.x, c.y, c.w, c.h}),
              (std::vector<int>{item.x, item.y, item.w, item.h}));
    if (c.kind != caskwell::kEdit) {
      EXPECT_EQ(c.text, item.text);
    }
    EXPECT_TRUE(SameClass(item.cls, c.kind))
        << "class " << item.cls << ", expected " << caskwell::ClassOf(c.kind);
  }
}

// Strings and icons of the main window: its title, its text, its class name; a 32 x 32 icon
// in 256 colours and a 16 x 16 one in 16 colours, one image each.
TEST_F(CaskwellProgramFile, StringsAndIconsOfTheMainWindow) {
  const BYTE* block = English(6 /* RT_STRING */, 103 / 16 + 1);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ("Caskwell", BlockString(block, 103));
  EXPECT_EQ("Youcan now exit this program.", BlockString(block, 106));
  EXPECT_EQ("CASKWELL", BlockString(block, 109));

  const struct {
    WORD id;
    BYTE size, colours;
    WORD bits;
  } kIcons[] = {{107, 32, 0, 8}, {108, 16, 16, 4}};
  for (const auto& icon : kIcons) {
    SCOPED_TRACE("icon group " + std::to_string(icon.id));
    const BYTE* group = English(14 /* RT_GROUP_ICON */, icon.id);
    ASSERT_NE(nullptr, group);
    ResourceReader r{group};
    r.Word();
    r.Word();
    EXPECT_EQ(1, r.Word()) << "images";
    const BYTE width = *r.p++, height = *r.p++, colours = *r.p++;
    ++r.p;
    r.Word();
    const WORD bits = r.Word();
    EXPECT_EQ(icon.size, width);
    EXPECT_EQ(icon.size, height);
    EXPECT_EQ(icon.colours, colours);
    EXPECT_EQ(icon.bits, bits);
  }
}

TEST_F(CaskwellProgramFile, MenuAndAcceleratorsOfTheMainWindow) {
  const BYTE* menu = English(4 /* RT_MENU */, 109);
  ASSERT_NE(nullptr, menu);
  ResourceReader r{menu};
  r.Dword();  // version and header size
  std::vector<std::string> lines;
  ReadMenu(r, &lines);
  EXPECT_EQ((std::vector<std::string>{"popup &File", "item 32771 Power Settings Test...",
                                      "separator", "item 105 E&xit", "end", "popup &Help",
                                      "item 104 &About ...", "end", "end"}),
            lines);

  const BYTE* table = English(9 /* RT_ACCELERATOR */, 109);
  ASSERT_NE(nullptr, table);
  // Alt+/ and Alt+? open the about box, Ctrl+P the settings; 0x80 marks the last entry.
  const std::vector<std::vector<WORD>> expected = {
      {FALT, '/', 104}, {FALT, '?', 104}, {FVIRTKEY | FCONTROL, 'P', 32771}};
  std::vector<std::vector<WORD>> found;
  ResourceReader a{table};
  for (WORD flags = 0; !(flags & 0x80) && found.size() < 8;) {
    flags = a.Word();
    const WORD key = a.Word(), command = a.Word();
    a.Word();
    found.push_back({static_cast<WORD>(flags & ~0x80), key, command});
  }
  EXPECT_EQ(expected, found);
}

TEST_F(CaskwellProgramFile, AboutBoxShowsTheIconTheVersionAndOk) {
  const BYTE* about = English(5 /* RT_DIALOG */, caskwell::kAboutBoxId);
  ASSERT_NE(nullptr, about);
  ResourceReader r{about};
  const DialogHeader dialog = ReadDialogHeader(r);
  EXPECT_EQ(static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU), dialog.style);
  EXPECT_EQ((std::vector<short>{22, 17, 230, 75}), dialog.box);
  EXPECT_EQ("About", dialog.caption);
  EXPECT_EQ(8, dialog.fontSize) << "font size";
  EXPECT_EQ("System", dialog.font);
  bool icon = false, version = false, ok = false;
  for (WORD i = 0; i < dialog.count; ++i) {
    const DialogItem item = ReadDialogItem(r, about);
    if (item.cls == "#130" && item.text == "#107") {
      icon = (item.style & SS_TYPEMASK) == SS_ICON && item.x == 14 && item.y == 9;
    } else if (item.text == "Caskwell Version 1.0") {
      // Ampersands shown as they are.
      version = item.cls == "#130" && (item.style & SS_NOPREFIX) && item.x == 49 && item.y == 10;
    } else if (item.id == IDOK) {
      ok = item.cls == "#128" && item.text == "OK" &&
           (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && item.x == 195 && item.y == 6 &&
           item.w == 30 && item.h == 11;
    }
  }
  EXPECT_TRUE(icon) << "icon 107 at (14, 9)";
  EXPECT_TRUE(version) << "\"Caskwell Version 1.0\" at (49, 10), without prefix";
  EXPECT_TRUE(ok) << "the default button \"OK\" (1) at (195, 6), 30 by 11";
}

}  // namespace

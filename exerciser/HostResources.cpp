// The host build's stand-in for the STRINGTABLE of Caskwell.rc: the same texts, registered
// with the host's string table before WinMain runs. Built on the host only.
#include "HostUiControl.h"
#include "StringTable.h"
#include "resource.h"

namespace {

struct StringTable {
  StringTable() {
    host::ui::SetString(IDS_APP_TITLE, CASKWELL_APP_TITLE);
    host::ui::SetString(IDS_MAIN_TEXT, CASKWELL_MAIN_TEXT);
    host::ui::SetString(IDS_WINDOW_CLASS, CASKWELL_WINDOW_CLASS);
  }
};

const StringTable stringTable;

}  // namespace

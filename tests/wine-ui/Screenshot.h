// A picture of a window as the screen shows it, saved as PNG through the imaging component.
#ifndef PM_WINE_SCREENSHOT_H
#define PM_WINE_SCREENSHOT_H

#include <windows.h>

#include <string>

namespace winetest {

// Has the window painted anew, copies its rectangle from the screen once the picture has
// settled and encodes it as PNG (no time stamps, so an unchanged window gives the same
// bytes). The empty text on success, else what failed.
std::string ScreenshotPng(HWND window, std::string* png);

}  // namespace winetest

#endif

// The caller's place in the test source. Every checking helper here takes one first and
// reports a mismatch there, so a failure names the line of the test, not of the helper.
#ifndef PM_WINE_WHERE_H
#define PM_WINE_WHERE_H

namespace winetest {

struct Where {
  const char* file;
  int line;
};

}  // namespace winetest

#define HERE (::winetest::Where{__FILE__, __LINE__})

#endif

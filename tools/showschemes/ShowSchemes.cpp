// Lists the power schemes the power profile holds, with each time-out in whole minutes as
// the power-scheme library reads them, and marks the active one. Used by the demo to show the
// scheme store before and after an enforcement pass; built for both targets.
//
//   ShowSchemes            every scheme with an index from 0 to 63 that can be read; exit
//                          status 1 when there is none
//   ShowSchemes N          scheme N only; exit status 1 when it cannot be read
#include <cstdio>
#include <cstdlib>
#include <string>

#include "PwrMgmt.h"
#include "PwrScheme.h"
#include "RegKey.h"
#include "Win32Api.h"

namespace {

std::string SchemeName(unsigned index) {
  RegKey key(HKEY_CURRENT_USER, "Control Panel\\PowerCfg\\PowerPolicies\\" + std::to_string(index));
  std::string name = key.GetStrValue("Name");
  key.CloseKey();
  return name;
}

bool ShowScheme(unsigned index, unsigned active) {
  PwrScheme scheme(index);
  if (!scheme.IsRead()) return false;
  // DWORD is unsigned long in the Windows build and unsigned int on the host.
  auto u = [](DWORD minutes) { return static_cast<unsigned>(minutes); };
  std::printf("%c %2u  %-26.26s %5u/%-5u %5u/%-5u %5u/%-5u %5u/%u\n", index == active ? '*' : ' ',
              index, SchemeName(index).c_str(), u(scheme.GetUserAcVideoTimeOut()),
              u(scheme.GetUserDcVideoTimeOut()), u(scheme.GetUserAcStandbyTimeOut()),
              u(scheme.GetUserDcStandbyTimeOut()), u(scheme.GetMachAcHibernateTimeOut()),
              u(scheme.GetMachDcHibernateTimeOut()), u(scheme.GetUserAcSpinDownTimeOut()),
              u(scheme.GetUserDcSpinDownTimeOut()));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  PwrMgmt mgmt;
  unsigned active = mgmt.GetPwrSchemeInUse();
  if (active == 65535) {
    std::printf("Active scheme: none (%s)\n", mgmt.GetErrorText().c_str());
  } else {
    std::printf("Active scheme: %u\n", active);
  }
  std::printf("   #  %-26s %11s %11s %11s %11s\n", "Name", "Monitor", "Standby", "Hibernate",
              "Disk");
  std::printf("      %-26s %11s %11s %11s %11s   (minutes, mains/battery)\n", "", "AC/DC", "AC/DC",
              "AC/DC", "AC/DC");

  if (argc > 1) {
    char* end = nullptr;
    unsigned long index = std::strtoul(argv[1], &end, 10);
    if (*argv[1] == '\0' || *end != '\0' || index > 0xFFFFFFFFul) {
      std::fprintf(stderr, "ShowSchemes: not a scheme index: %s\n", argv[1]);
      return 2;
    }
    if (!ShowScheme(static_cast<unsigned>(index), active)) {
      std::fprintf(stderr, "ShowSchemes: scheme %lu cannot be read\n", index);
      return 1;
    }
    return 0;
  }

  int shown = 0;
  for (unsigned index = 0; index < 64; ++index) {
    if (ShowScheme(index, active)) ++shown;
  }
  if (shown == 0) {
    // No scheme store at all (an empty or wrong registry): a caller must not take the empty
    // listing for the machine's schemes.
    std::printf("      (no scheme can be read)\n");
    return 1;
  }
  return 0;
}

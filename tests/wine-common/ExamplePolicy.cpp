#include "ExamplePolicy.h"

#include <cstring>

#include "Registry.h"

namespace winetest {

namespace {

template <typename Record>
bool ReadHalf(HKEY root, const std::string& path, Record* record) {
  RegValue value = QueryValue(root, path, "Policies");
  if (value.status != ERROR_SUCCESS || value.type != REG_BINARY ||
      value.data.size() != sizeof *record) {
    return false;
  }
  std::memcpy(record, value.data.data(), sizeof *record);
  return true;
}

}  // namespace

std::string SeedDefaultSchemesAndExamplePolicy() {
  const struct {
    HKEY root;
    const char* path;
  } kRemoved[] = {{HKEY_LOCAL_MACHINE, "Software\\Policies\\Velmorant"},
                  {HKEY_LOCAL_MACHINE, "Software\\Velmorant"},
                  {HKEY_CURRENT_USER, "Software\\Velmorant"}};
  for (const auto& key : kRemoved) {
    LONG status = DeleteTree(key.root, key.path);
    if (status != ERROR_SUCCESS) {
      return std::string("deleting ") + key.path + ": status " + std::to_string(status);
    }
  }
  std::string failed = ImportRegFile(PM_SOURCE_DIR "/tests/fixtures/default-schemes.reg");
  if (failed.empty()) failed = ImportRegFile(PM_SOURCE_DIR "/examples/example-policy.reg");
  return failed;
}

bool ReadScheme(UINT id, POWER_POLICY* scheme) {
  return ReadHalf(HKEY_CURRENT_USER, scheme_store::UserKey(id), &scheme->user) &&
         ReadHalf(HKEY_LOCAL_MACHINE, scheme_store::MachineKey(id), &scheme->mach);
}

POWER_POLICY EnforcedByTheExample(const POWER_POLICY& defaults) {
  POWER_POLICY enforced = defaults;
  enforced.user.VideoTimeoutAc = 600;
  enforced.user.IdleTimeoutAc = 1800;
  enforced.user.IdleAc.Action = PowerActionSleep;
  enforced.user.IdleTimeoutDc = 900;
  enforced.user.SpindownTimeoutAc = 1200;
  enforced.mach.DozeS4TimeoutAc = 3600;
  enforced.mach.DozeS4TimeoutDc = 2700;
  return enforced;
}

const std::vector<std::pair<std::string, DWORD>>& FirstPassBackup() {
  static const std::vector<std::pair<std::string, DWORD>> kBackup = {
      {"CurACUserVideoTimeout", 20},      {"CurACUserStandbyTimeout", 0},
      {"CurACMachHibernateTimeout", 0},   {"ACUserVideoTimeoutPolicy", 10},
      {"ACUserStandbyTimeoutPolicy", 30}, {"ACMachHibernateTimeoutPolicy", 90},
      {"CurDCUserVideoTimeout", 5},       {"CurDCUserStandbyTimeout", 5},
      {"CurDCMachHibernateTimeout", 0},   {"DCUserVideoTimeoutPolicy", 5},
      {"DCUserStandbyTimeoutPolicy", 15}, {"DCMachHibernateTimeoutPolicy", 60},
      {"ACUserMonIdleTime", 20},          {"ACUserStandByIdleTime", 0},
      {"ACMachHibernateIdleTime", 0},     {"DCUserStandByIdleTime", 5},
      {"DCMachHibernateIdleTime", 0},     {"ACUserHDDspindownIdleTime", 0},
  };
  return kBackup;
}

std::vector<std::string> FirstPassLog(const std::string& user) {
  return {"INFO: " + user + " Video Timeout will be changed",
          "INFO: SetUserAcVideoTimeOut() Succeded",
          "INFO: " + user + " System Standby will be changed",
          "INFO: SetUserAcStandbyTimeOut() Succeded",
          "INFO: Machine Hibernation will be changed",
          "INFO: SetMachAcHibernateTimeOut() Succeded",
          "INFO: .Default User DC System Standby will be changed",
          "INFO: SetUserDcStandbyTimeOut() Succeded",
          "INFO: .Default DC Machine Hibernation will be changed",
          "INFO: SetMachDcHibernateTimeOut() Succeded",
          "INFO: " + user + " Disk Spindown Timeout will be changed",
          "INFO: SetUserAcSpinDownTimeOut() Succeded",
          "INFO: Commiting of Power Scheme() Succeded"};
}

void ExpectScheme(Where where, UINT id, const POWER_POLICY& expected) {
  ExpectValue(where, HKEY_CURRENT_USER, scheme_store::UserKey(id), "Policies", REG_BINARY,
              scheme_store::BytesOf(expected.user));
  ExpectValue(where, HKEY_LOCAL_MACHINE, scheme_store::MachineKey(id), "Policies", REG_BINARY,
              scheme_store::BytesOf(expected.mach));
  ExpectValue(where, HKEY_CURRENT_USER, scheme_store::kUserPowerCfg, "CurrentPowerPolicy", REG_SZ,
              TextBytes(std::to_string(id)));
}

}  // namespace winetest

// libFuzzer harness of the update pass. Each input is decoded into a world (registry
// contents of both settings roots and both scheme store layouts, capabilities, the user's
// write rights, the kind of machine, an earlier log) and at most one injected failure of a
// platform call; one pass of either variant then runs over it, and the invariants every pass
// must keep (tests/common/PassInvariants.h) are checked. A broken invariant aborts, so
// libFuzzer keeps the input as a crash.
//
// Input layout (FuzzedDataProvider; what runs out reads as zeros):
//   flags        machine kind, variant, limited user, the starting store and policy, and
//                which scheme of the starting store is active (its first or another)
//   capabilities default, without standby, without hibernation, or raw bytes of any length
//   log          where "LogFile" points (always below the scratch folder) and what the log
//                held before the pass
//   failure      none, or the nth platform call failing once or from then on, with an error
//   operations   until the input ends: set a value (a key and name from the tables below or
//                made of input bytes, any type, data of any size), delete a value or a key,
//                store a legacy scheme record of any length, set a current setting's value
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CurrentSchemeStore.h"
#include "HostControl.h"
#include "HostCurrentSchemeStore.h"
#include "HostSchemeStore.h"
#include "PMEventReporter.h"
#include "PassInvariants.h"
#include "PassVariant.h"
#include "RegistrySchema.h"
#include "SchemeStore.h"
#include "SettingTable.h"

namespace {

constexpr const char* kDirVariable = "PM_FUZZ_DIR";

struct Scratch {
  std::string dir;
  std::string log;         // the log the invariants watch
  std::string linkTarget;  // a file a planted symbolic link names
  std::string hardTarget;  // a file a planted hard link shares
  std::string legacyStore;
  std::string currentStore;
  std::string examplePolicy;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::abort();
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

const Scratch& TheScratch() {
  static const Scratch scratch = [] {
    Scratch s;
    std::string pattern = std::filesystem::temp_directory_path().string() + "/pass_fuzz_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    s.dir = pattern;
    s.log = s.dir + "/dorvane.log";
    s.linkTarget = s.dir + "/link-target.txt";
    s.hardTarget = s.dir + "/hard-target.txt";
    WriteText(s.linkTarget, "not a log\n");
    WriteText(s.hardTarget, "not a log either\n");
    std::filesystem::create_symlink(s.linkTarget, s.dir + "/link.log");
    std::filesystem::create_hard_link(s.hardTarget, s.dir + "/hard.log");
    setenv(kDirVariable, s.dir.c_str(), 1);
    s.legacyStore = ReadText(PM_FIXTURES_DIR "/default-schemes.reg");
    s.currentStore = ReadText(PM_FIXTURES_DIR "/current-default-schemes.reg");
    s.examplePolicy = ReadText(PM_EXAMPLES_DIR "/example-policy.reg");
    host::SetDebugEcho(false);
    return s;
  }();
  return scratch;
}

// ---- What the input chooses from --------------------------------------------------------

const std::string kGroupRoot = schema::kPolicyRoot;
const std::string kLocalRoot = schema::kLocalRoot;

// Value names: the policy's (the time-outs from the setting table), the stores', and a few
// near misses.
const std::vector<const char*> kNames = [] {
  std::vector<const char*> names = {
      schema::kControl,  schema::kMajorVersion, schema::kSettingsScheme, schema::kLog,
      schema::kLogLevel, schema::kLogFile,      schema::kSecurityBypass, schema::kForceStandby};
  for (const Setting& setting : kSettings) names.push_back(setting.policyValue);
  names.insert(names.end(), {scheme_store::kPoliciesValue, scheme_store::kActiveValue,
                             scheme_store::kCapabilitiesKnob, "ActivePowerScheme", "ACSettingIndex",
                             "DCSettingIndex", "Name", ""});
  return names;
}();

// Numbers worth meeting: the range's edges, the unset reading's neighbours, products by 60
// that wrap around.
const DWORD kNumbers[] = {
    0,    1,          2,          3,          4,          59,       60,       61,      4999,   5000,
    5001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 71582788, 71582789, 1193046, 0x10000};

const DWORD kErrors[] = {ERROR_GEN_FAILURE,       ERROR_ACCESS_DENIED,       ERROR_FILE_NOT_FOUND,
                         ERROR_MORE_DATA,         ERROR_INVALID_DATA,        ERROR_DISK_FULL,
                         ERROR_NOT_ENOUGH_MEMORY, ERROR_SHARING_VIOLATION,   ERROR_PATH_NOT_FOUND,
                         ERROR_INVALID_PARAMETER, ERROR_CALL_NOT_IMPLEMENTED};

std::string RawName(FuzzedDataProvider& in, size_t most) {
  return in.ConsumeRandomLengthString(most);
}

// A key of the world: HKEY and path.
struct Key {
  HKEY root;
  std::string path;
};

// One of the three plans of a fresh installation, now and then a made-up name.
std::string SchemeGuid(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegral<uint8_t>() % 16) {
    case 0:
      return RawName(in, 40);
    case 1:
    case 2:
      return current_store::kHighPerformance;
    case 3:
    case 4:
      return current_store::kPowerSaver;
    default:
      return current_store::kBalanced;
  }
}

Key ChooseKey(FuzzedDataProvider& in) {
  const uint8_t choice = in.ConsumeIntegralInRange<uint8_t>(0, 17);
  const unsigned id = in.ConsumeIntegralInRange<unsigned>(0, 7);
  switch (choice) {
    case 0:
      return {HKEY_LOCAL_MACHINE, kGroupRoot};
    case 1:
      return {HKEY_LOCAL_MACHINE, kLocalRoot};
    case 2:
      return {HKEY_LOCAL_MACHINE, kGroupRoot + "\\Options"};
    case 3:
      return {HKEY_LOCAL_MACHINE, kLocalRoot + "\\Options"};
    case 4:
      return {HKEY_LOCAL_MACHINE, kGroupRoot + "\\" + schema::kAcceptedScheme};
    case 5:
      return {HKEY_LOCAL_MACHINE, kLocalRoot + "\\" + schema::kAcceptedScheme};
    case 6:
      return {HKEY_LOCAL_MACHINE, kGroupRoot + "\\" + RawName(in, 24)};
    case 7:
      return {HKEY_CURRENT_USER, scheme_store::kUserPowerCfg};
    case 8:
      return {HKEY_CURRENT_USER, scheme_store::UserKey(id)};
    case 9:
      return {HKEY_LOCAL_MACHINE, scheme_store::MachineKey(id)};
    case 10:
      return {HKEY_LOCAL_MACHINE, scheme_store::kMachinePowerCfg};
    case 11:
      return {HKEY_LOCAL_MACHINE, current_store::kSchemes};
    case 12:
      return {HKEY_LOCAL_MACHINE, current_store::SchemeKey(SchemeGuid(in))};
    case 13:
      return {HKEY_LOCAL_MACHINE,
              current_store::OwnValueKey(SchemeGuid(in), current_store::kAllSettings[id % 4])};
    case 14:
      return {HKEY_LOCAL_MACHINE,
              current_store::DefaultValueKey(SchemeGuid(in), current_store::kAllSettings[id % 4])};
    case 15:
      return {HKEY_LOCAL_MACHINE, std::string(current_store::kPolicySettings) + "\\" +
                                      current_store::kAllSettings[id % 4].setting};
    case 16:
      return {HKEY_LOCAL_MACHINE, schema::kBackupKey};
    default:
      return {HKEY_CURRENT_USER, schema::kBackupKey};
  }
}

std::vector<uint8_t> Dword(DWORD value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> Text(const std::string& text, bool terminated) {
  std::vector<uint8_t> data(text.begin(), text.end());
  if (terminated) data.push_back(0);
  return data;
}

// Where "LogFile" points: always below the scratch folder, whatever the input says, so the
// harness never writes anywhere else.
std::vector<uint8_t> LogFileData(FuzzedDataProvider& in) {
  const Scratch& s = TheScratch();
  const std::string var = std::string("%") + kDirVariable + "%";
  switch (in.ConsumeIntegralInRange<uint8_t>(0, 10)) {
    case 0:
      return Text(s.log, true);
    case 1:
      return Text(var + "/dorvane.log", true);
    case 2:
      return Text(s.log, false);
    case 3:
      return Text(s.dir, true);  // a folder
    case 4:
      return Text(s.dir + "/missing/dorvane.log", true);
    case 5:
      return Text("", true);
    case 6:
      return Text(s.dir + "/link.log", true);
    case 7:
      return Text(s.dir + "/hard.log", true);
    case 8:
      return Text(s.dir + "/" + std::string(in.ConsumeIntegralInRange(200, 400), 'a'), true);
    case 9: {
      std::string text;
      for (int i = in.ConsumeIntegralInRange(1, 40); i > 0; --i) text += var;
      return Text(text + "/dorvane.log", true);
    }
    default: {
      std::vector<uint8_t> data = Text(s.log, true);
      const std::string junk = in.ConsumeRandomLengthString(32);
      data.insert(data.end(), junk.begin(), junk.end());
      return data;
    }
  }
}

// A value of any type and size.
void ChooseData(FuzzedDataProvider& in, DWORD* type, std::vector<uint8_t>* data) {
  switch (in.ConsumeIntegralInRange<uint8_t>(0, 12)) {
    case 0:
      *type = REG_DWORD;
      *data = Dword(in.ConsumeIntegral<DWORD>());
      return;
    case 1:  // a short number
      *type = REG_DWORD;
      *data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 3));
      return;
    case 2:  // a long number
      *type = REG_DWORD;
      *data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(5, 12));
      return;
    case 3:
      *type = REG_SZ;
      *data = Text(in.ConsumeRandomLengthString(80), true);
      return;
    case 4:
      *type = REG_SZ;
      *data = Text(in.ConsumeRandomLengthString(80), false);
      return;
    case 5:
      *type = REG_EXPAND_SZ;
      *data = Text(in.ConsumeRandomLengthString(80), true);
      return;
    case 6:
      *type = REG_BINARY;
      *data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 200));
      return;
    case 7:
      *type = REG_QWORD;
      *data = in.ConsumeBytes<uint8_t>(8);
      return;
    case 8:
      *type = REG_MULTI_SZ;
      *data = Text(in.ConsumeRandomLengthString(40), true);
      data->push_back(0);
      return;
    case 9:
      *type = in.ConsumeIntegral<DWORD>();
      *data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 16));
      return;
    case 10:  // minutes a policy might hold
      *type = REG_DWORD;
      *data = Dword(in.ConsumeIntegralInRange<DWORD>(0, 6000));
      return;
    case 11: {  // an over-long string: past a path's room, now and then past 64 KiB
      *type = in.ConsumeBool() ? REG_SZ : REG_EXPAND_SZ;
      const char fill = static_cast<char>(in.ConsumeIntegralInRange('0', 'z'));
      const size_t length =
          in.ConsumeIntegral<uint8_t>() == 0 ? 70000 : in.ConsumeIntegralInRange(256, 5000);
      *data = Text(std::string(length, fill), in.ConsumeBool());
      return;
    }
    default:
      *type = REG_DWORD;
      *data = Dword(in.PickValueInArray(kNumbers));
      return;
  }
}

std::string RegPath(const Key& key) {
  return std::string(key.root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE\\"
                                                    : "HKEY_CURRENT_USER\\") +
         key.path;
}

void DeleteValue(const Key& key, const std::string& name) {
  std::string text = "Windows Registry Editor Version 5.00\n\n[" + RegPath(key) + "]\n\"";
  for (char c : name) {
    if (c == '\\' || c == '"') text += '\\';
    text += c;
  }
  host::ImportRegText(text + "\"=-\n");
}

void ApplyOperation(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<uint8_t>(0, 5)) {
    case 0:
    case 1: {  // a value
      const Key key = ChooseKey(in);
      const uint8_t nameChoice = in.ConsumeIntegral<uint8_t>();
      const std::string name =
          nameChoice < kNames.size() * 8 ? kNames[nameChoice % kNames.size()] : RawName(in, 40);
      DWORD type = REG_NONE;
      std::vector<uint8_t> data;
      ChooseData(in, &type, &data);
      if (pass_invariants::Lower(name) == "logfile") data = LogFileData(in);
      host::WriteValue(key.root, key.path, name, type, data);
      return;
    }
    case 2: {
      const Key key = ChooseKey(in);
      DeleteValue(key, kNames[in.ConsumeIntegral<uint8_t>() % kNames.size()]);
      return;
    }
    case 3: {
      const Key key = ChooseKey(in);
      host::DeleteKeyTree(key.root, key.path);
      return;
    }
    case 4: {  // a legacy record of any length
      const unsigned id = in.ConsumeIntegralInRange<unsigned>(0, 7);
      const bool user = in.ConsumeBool();
      std::vector<uint8_t> record = in.ConsumeBytes<uint8_t>(
          in.ConsumeBool() ? (user ? sizeof(USER_POWER_POLICY) : sizeof(MACHINE_POWER_POLICY))
                           : in.ConsumeIntegralInRange<size_t>(0, 200));
      host::WriteValue(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                       user ? scheme_store::UserKey(id) : scheme_store::MachineKey(id),
                       scheme_store::kPoliciesValue, REG_BINARY, record);
      return;
    }
    default: {  // a current setting side, the scheme's own or its default
      const std::string scheme = SchemeGuid(in);
      const current_store::Setting& setting =
          current_store::kAllSettings[in.ConsumeIntegralInRange(0, 3)];
      const std::string path = in.ConsumeBool() ? current_store::OwnValueKey(scheme, setting)
                                                : current_store::DefaultValueKey(scheme, setting);
      DWORD type = REG_DWORD;
      std::vector<uint8_t> data;
      if (in.ConsumeBool()) {
        data = Dword(in.ConsumeIntegralInRange<DWORD>(0, 20000));
      } else {
        ChooseData(in, &type, &data);
      }
      host::WriteValue(HKEY_LOCAL_MACHINE, path, current_store::SideValue(in.ConsumeBool()), type,
                       data);
      return;
    }
  }
}

void Import(const std::string& text) {
  std::string error;
  if (!host::ImportRegText(text, &error)) {
    std::fprintf(stderr, "fixture does not import: %s\n", error.c_str());
    std::abort();
  }
}

void SetCapabilities(FuzzedDataProvider& in) {
  SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
  switch (in.ConsumeIntegralInRange<uint8_t>(0, 4)) {
    case 0:
      return;
    case 1:
      caps.SystemS3 = FALSE;
      break;
    case 2:
      caps.SystemS4 = FALSE;
      break;
    case 3:
      caps.HiberFilePresent = FALSE;
      caps.SystemS3 = in.ConsumeBool();
      break;
    default:
      host::WriteValue(HKEY_LOCAL_MACHINE, scheme_store::kMachinePowerCfg,
                       scheme_store::kCapabilitiesKnob, REG_BINARY,
                       in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 100)));
      return;
  }
  host::SetCapabilities(caps);
}

void PrepareLog(FuzzedDataProvider& in) {
  const Scratch& s = TheScratch();
  std::error_code ignored;
  std::filesystem::remove(s.log, ignored);
  switch (in.ConsumeIntegralInRange<uint8_t>(0, 3)) {
    case 0:
      return;  // no file yet
    case 1:
      WriteText(s.log, "");
      return;
    case 2:
      WriteText(s.log, "INFO: an earlier pass\r\n");
      return;
    default:
      WriteText(s.log, "INFO: an earlier pass, torn");
      return;
  }
}

// Every entry of both hives but the snapshot values of the scheme as found.
std::vector<pass_invariants::Entry> SecondPassSees() {
  std::vector<pass_invariants::Entry> entries;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    const std::string backup =
        pass_invariants::HiveName(root) + pass_invariants::Lower(schema::kBackupKey);
    for (pass_invariants::Entry& entry : pass_invariants::Entries(root)) {
      bool snapshotOfScheme = false;
      for (const Setting& setting : kSettings) {
        snapshotOfScheme =
            snapshotOfScheme || (setting.snapshotCurrent != nullptr &&
                                 entry.name == pass_invariants::Lower(setting.snapshotCurrent));
      }
      if (!(entry.key == backup && snapshotOfScheme)) entries.push_back(std::move(entry));
    }
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Scratch& scratch = TheScratch();
  FuzzedDataProvider in(data, size);

  const uint8_t flags = in.ConsumeIntegral<uint8_t>();
  const bool current = (flags & 1) != 0;
  host::Reset();
  ForgetReportedWarnings();  // each input reports as a process of its own would
  const PassVariant& variant = (flags & 2) != 0 ? kLogonPass : kServicePass;
  const bool limitedUser = (flags & 4) != 0;
  const bool seedStore = (flags & 8) == 0;
  const bool seedPolicy = (flags & 16) == 0;

  if (seedStore) {
    Import(current ? scratch.currentStore : scratch.legacyStore);
    // The active scheme: of a legacy store any index up to 7 (6 and 7 are not stored), of a
    // current one any of its three plans.
    const unsigned active = flags >> 5;
    if (current) {
      const char* const kPlans[] = {current_store::kBalanced, current_store::kHighPerformance,
                                    current_store::kPowerSaver};
      current_store::SetActive(kPlans[active % 3]);
    } else {
      scheme_store::SetActive(active);
    }
  }
  if (seedPolicy) {
    Import(scratch.examplePolicy);
    host::WriteString(HKEY_LOCAL_MACHINE, kGroupRoot + "\\Options", schema::kLogFile, scratch.log);
  }
  SetCapabilities(in);
  PrepareLog(in);

  const uint8_t failure = in.ConsumeIntegral<uint8_t>();
  const unsigned failingCall = in.ConsumeIntegralInRange<unsigned>(1, 400);
  const DWORD error = in.PickValueInArray(kErrors);
  while (in.remaining_bytes() > 0) ApplyOperation(in);

  host::SetPowerMachine(current ? host::PowerMachine::kCurrent : host::PowerMachine::kLegacyOnly);
  host::SetLimitedUser(limitedUser);
  host::ClearCalls();

  const pass_invariants::PassInvariants invariants(scratch.log,
                                                   {scratch.linkTarget, scratch.hardTarget});
  const bool failing = failure % 4 != 0;
  if (failing) host::FailNthCall(failingCall, error, failure % 4 == 3);
  RunPolicyPass(variant);
  host::ClearFailures();

  const std::vector<std::string> broken = invariants.Broken(failing);
  if (!broken.empty()) {
    std::fprintf(stderr, "\n%s pass, %s machine%s%s broke:\n",
                 &variant == &kServicePass ? "service" : "logon", current ? "current" : "legacy",
                 limitedUser ? ", limited user" : "",
                 failing ? (", call " + std::to_string(failingCall) + " failing" +
                            (failure % 4 == 3 ? " from then on" : " once"))
                               .c_str()
                         : "");
    for (const std::string& what : broken) std::fprintf(stderr, "  %s\n", what.c_str());
    std::abort();
  }
  // A second pass with the same world changes nothing: the registry and the scheme store stay
  // as the first pass left them, but for the snapshot of the scheme as found, which records
  // what the first pass made of it, and the log, which gains the second pass's lines.
  if (!failing) {
    const std::vector<pass_invariants::Entry> first = SecondPassSees();
    const pass_invariants::PassInvariants again(scratch.log,
                                                {scratch.linkTarget, scratch.hardTarget});
    RunPolicyPass(variant);
    std::vector<std::string> changed = again.Broken(false);
    if (SecondPassSees() != first) changed.push_back("the second pass changed the registry");
    if (!changed.empty()) {
      std::fprintf(stderr, "\n%s pass, %s machine%s, run a second time with the same world:\n",
                   &variant == &kServicePass ? "service" : "logon", current ? "current" : "legacy",
                   limitedUser ? ", limited user" : "");
      for (const std::string& what : changed) std::fprintf(stderr, "  %s\n", what.c_str());
      std::abort();
    }
  }
  // What the run made is freed within the run: libFuzzer takes a run that ends with more
  // blocks than it began with for a leak, and looks for one through the whole heap.
  host::Reset();
  return 0;
}

// Two processes running update passes at the same time on one host registry file (the
// stand-in's HOST_REGISTRY_FILE, shared under its lock) and one log file (opened without
// sharing): concurrent-passes.sh drives this program in three roles.
//
//   pass_runner seed REGISTRY LOG [--machine current]    the default schemes and the example
//       policy, logging every line to LOG, written to the registry file REGISTRY
//   pass_runner run service|logon N [--machine current]  N passes of that variant, one after
//       the other, on the registry file that HOST_REGISTRY_FILE names
//   pass_runner check REGISTRY LOG PASSES [--machine current]   what the passes left: every log
//       line whole, each process's backup record complete, the active scheme readable and
//       holding the policy; prints how many passes logged nothing because the other process
//       held the log, which shows that passes overlapped (there must be at least one)
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "HostControl.h"
#include "LogLines.h"
#include "PassVariant.h"
#include "PwrMgmt.h"
#include "PwrScheme.h"
#include "RegistrySchema.h"
#include "SettingTable.h"

namespace {

const std::string kOptions = std::string(schema::kPolicyRoot) + schema::kOptionsSubKey;
// The last line of every pass that could open the log: it committed a change, or found none.
constexpr const char* kCommitLine = "INFO: Commiting of Power Scheme() Succeded\r\n";
constexpr const char* kUnchangedLine = "INFO: No setting changed; Power Scheme not committed\r\n";

// The example policy's time-outs in minutes, in the pass's order; the battery disk time-out
// (5000) is left alone.
constexpr DWORD kPolicy[] = {10, 30, 90, 5, 15, 60, 20, 5000};
static_assert(std::size(kPolicy) == kSettingCount, "one time-out per setting");

int Fail(const std::string& what) {
  std::fprintf(stderr, "pass_runner: %s\n", what.c_str());
  return 1;
}

bool Import(const std::string& path) {
  std::string error;
  if (host::ImportRegFile(path, &error)) return true;
  std::fprintf(stderr, "pass_runner: %s\n", error.c_str());
  return false;
}

int Seed(const std::string& registry, const std::string& log, bool current) {
  unsetenv(host::kRegistryFileVariable);
  if (!Import(current ? PM_FIXTURES_DIR "/current-default-schemes.reg"
                      : PM_FIXTURES_DIR "/default-schemes.reg") ||
      !Import(PM_EXAMPLES_DIR "/example-policy.reg")) {
    return 1;
  }
  host::WriteString(HKEY_LOCAL_MACHINE, kOptions, schema::kLogFile, log);
  return host::ExportRegFile(registry) ? 0 : Fail("cannot write " + registry);
}

int Run(const std::string& variant, unsigned long passes) {
  if (variant != "service" && variant != "logon") return Fail("no variant " + variant);
  for (unsigned long i = 0; i < passes; ++i) {
    RunPolicyPass(variant == "service" ? kServicePass : kLogonPass);
  }
  return 0;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The twelve snapshot values, as the last pass of either process found them: the scheme
// holding the policy.
bool BackupComplete(HKEY root, const char* hive) {
  struct Expected {
    const char* name;
    DWORD value;
  };
  std::vector<Expected> snapshot;
  for (size_t i = 0; i < kSettingCount; ++i) {
    for (const char* name : {kSettings[i].snapshotCurrent, kSettings[i].snapshotPolicy}) {
      if (name != nullptr) snapshot.push_back({name, kPolicy[i]});
    }
  }
  bool complete = true;
  for (const Expected& expected : snapshot) {
    host::RegValue value;
    DWORD number = 0;
    const bool read = host::ReadValue(root, schema::kBackupKey, expected.name, &value) &&
                      value.type == REG_DWORD && value.data.size() == sizeof number;
    if (read) number = *reinterpret_cast<const DWORD*>(value.data.data());
    if (!read || number != expected.value) {
      std::fprintf(stderr, "pass_runner: %s backup value %s is %s, not %u\n", hive, expected.name,
                   read ? std::to_string(number).c_str() : "missing",
                   static_cast<unsigned>(expected.value));
      complete = false;
    }
  }
  return complete;
}

int Check(const std::string& registry, const std::string& logPath, unsigned long passes) {
  unsetenv(host::kRegistryFileVariable);
  if (!Import(registry)) return 1;
  int failures = 0;

  const std::string log = ReadText(logPath);
  if (!IsWholeLogLines(log)) failures += Fail("a log line is not whole");
  // Every pass that could open the log ends it with the commit line or the line that says it
  // found nothing to commit.
  const size_t logged = Occurrences(log, kCommitLine) + Occurrences(log, kUnchangedLine);
  if (logged > passes) failures += Fail("more last lines than passes");
  const unsigned long dropped = passes - logged;
  std::printf("pass_runner: %lu passes, %zu logged, %lu found the log held by the other process\n",
              passes, logged, dropped);
  if (dropped == 0) failures += Fail("no two passes overlapped: the run shows nothing");

  if (!BackupComplete(HKEY_LOCAL_MACHINE, "the service's")) ++failures;
  if (!BackupComplete(HKEY_CURRENT_USER, "the logon tool's")) ++failures;

  PwrMgmt mgmt;
  UINT active = 0;
  if (mgmt.QueryPwrSchemeInUse(&active)) return Fail("no active scheme") + failures;
  PwrScheme scheme(active);
  if (!scheme.IsRead()) return Fail("the active scheme cannot be read") + failures;
  const DWORD held[7] = {scheme.GetUserAcVideoTimeOut(),     scheme.GetUserAcStandbyTimeOut(),
                         scheme.GetMachAcHibernateTimeOut(), scheme.GetUserDcVideoTimeOut(),
                         scheme.GetUserDcStandbyTimeOut(),   scheme.GetMachDcHibernateTimeOut(),
                         scheme.GetUserAcSpinDownTimeOut()};
  for (int i = 0; i < 7; ++i) {
    if (held[i] != kPolicy[i]) {
      failures +=
          Fail("setting " + std::to_string(i + 1) + " of the active scheme holds " +
               std::to_string(held[i]) + ", not the policy's " + std::to_string(kPolicy[i]));
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool current = false;
  if (args.size() >= 2 && args[args.size() - 2] == "--machine") {
    current = args.back() == "current";
    args.resize(args.size() - 2);
  }
  host::SetPowerMachine(current ? host::PowerMachine::kCurrent : host::PowerMachine::kLegacyOnly);
  host::SetDebugEcho(false);
  if (args.size() == 3 && args[0] == "seed") return Seed(args[1], args[2], current);
  if (args.size() == 3 && args[0] == "run") return Run(args[1], std::stoul(args[2]));
  if (args.size() == 4 && args[0] == "check") {
    return Check(args[1], args[2], std::stoul(args[3]));
  }
  std::fprintf(stderr,
               "usage: pass_runner seed REGISTRY LOG | run service|logon N | "
               "check REGISTRY LOG PASSES   [--machine current]\n");
  return 2;
}

// Fixture for update-pass tests: an empty host registry with a scheme store of four schemes, the
// active one (kActiveScheme, every time-out distinct) between neighbours that hold other values,
// a scratch directory for the log, and readers for what a pass leaves: the log file, the backup
// key, the scheme store and the debug texts. Every pass it runs is also held to the invariants
// of any pass (PassInvariants.h), the neighbours left as they were among them.
#ifndef PM_TESTS_PASSFIXTURE_H
#define PM_TESTS_PASSFIXTURE_H

#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "HostFixture.h"
#include "HostSchemeStore.h"
#include "PassInvariants.h"
#include "PassVariant.h"
#include "RegistrySchema.h"
#include "SettingTable.h"

// The probe's debug text on the stand-in's default machine (legacy only): every pass that finds
// a settings root chooses the power-scheme interface afresh and says which.
inline constexpr const char* kLegacyProbeText =
    "Power scheme interface: legacy (powrprof.dll has no PowerGetActiveScheme)";

// The line of a pass that changed no setting, and so committed nothing (level 5).
inline constexpr const char* kNothingToCommit =
    "INFO: No setting changed; Power Scheme not committed";

class PassFixture : public HostFixture {
 protected:
  static constexpr const char* kPolicyRoot =
      "HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmorant\\Dorvane";
  static constexpr const char* kLocalRoot = "HKEY_LOCAL_MACHINE\\Software\\Velmorant\\Dorvane";
  static constexpr const char* kErrorSuffix = "->System Error: ";

  // The active scheme and its neighbours. Not scheme 0, the first a reader might take for it.
  static constexpr unsigned kActiveScheme = 2;
  static constexpr unsigned kNeighbours[] = {0, 1, 3};

  // The active scheme as seeded, in minutes: monitor 20/7, standby 10/5, hibernation
  // (standby + the delay after it) 10+60=70 / 5+40=45, disk 30/15.
  void SetUp() override {
    HostFixture::SetUp();
    std::string pattern = ::testing::TempDir() + "pass_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    // By its final path: a log is written only where its path leads straight.
    dir_ = std::filesystem::canonical(pattern).string();
    logPath_ = dir_ + "/dorvane.log";
    SeedSchemes(scheme_store::DistinctPolicy());
  }

  // The store: `active` at kActiveScheme, made active, and its neighbours.
  static void SeedSchemes(const POWER_POLICY& active) {
    for (unsigned i = 0; i < std::size(kNeighbours); ++i) {
      scheme_store::Seed(kNeighbours[i], scheme_store::NeighbourPolicy(i));
    }
    scheme_store::Seed(kActiveScheme, active);
    scheme_store::SetActive(kActiveScheme);
  }

  void TearDown() override {
    host::Reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Root values, "Options" and the "Simple" scheme subkey below `root` (kPolicyRoot or
  // kLocalRoot). Each argument is the body of .reg lines for that key; an empty text leaves
  // the key out. `options` may use LOGFILE, replaced by the scratch log's path.
  void SeedPolicy(const std::string& root, const std::string& rootValues,
                  const std::string& options, const std::string& simple) {
    std::string text = "[" + root + "]\n" + rootValues + "\n";
    if (!options.empty()) text += "[" + root + "\\Options]\n" + WithLogPath(options) + "\n";
    if (!simple.empty()) text += "[" + root + "\\Simple]\n" + simple + "\n";
    ImportReg(text);
  }

  // A verified root, version 2, scheme "Simple", log on with `logLevel`, both switches on.
  void SeedStandardPolicy(const std::string& simple, DWORD logLevel = 11,
                          const char* root = kPolicyRoot) {
    SeedPolicy(root, kVerifiedRoot, Options(logLevel), simple);
  }

  static std::string Options(DWORD logLevel, DWORD bypass = 1, DWORD forceStandby = 1) {
    return "\"Log\"=dword:00000001\n\"LogLevel\"=dword:" + Hex(logLevel) +
           "\n\"LogFile\"=\"LOGFILE\"\n\"SecurityBypass\"=dword:" + Hex(bypass) +
           "\n\"ForceStandby\"=dword:" + Hex(forceStandby) + "\n";
  }

  static std::string Dword(const std::string& name, DWORD value) {
    return "\"" + name + "\"=dword:" + Hex(value) + "\n";
  }

  // The policy values of the "Simple" subkey: one time-out per setting, in the order of the
  // setting table.
  template <size_t N>
  static std::string PolicyOf(const DWORD (&minutes)[N]) {
    static_assert(N == kSettingCount, "one time-out per setting");
    std::string text;
    for (size_t i = 0; i < N; ++i) text += Dword(kSettings[i].policyValue, minutes[i]);
    return text;
  }

  // Policy time-outs that all differ from the seeded scheme.
  static std::string AllDiffer() { return PolicyOf({15, 25, 90, 3, 4, 60, 45, 0}); }

  // The seeded scheme as AllDiffer() leaves it. Hibernation is stored from entering standby,
  // so the total is reduced by the standby time the pass has just set.
  static POWER_POLICY SchemeAfterAllDiffer() {
    POWER_POLICY p = scheme_store::DistinctPolicy();
    p.user.VideoTimeoutAc = 15 * 60;
    p.user.IdleTimeoutAc = 25 * 60;
    p.user.IdleAc.Action = PowerActionSleep;
    p.mach.DozeS4TimeoutAc = (90 - 25) * 60;
    p.user.VideoTimeoutDc = 3 * 60;
    p.user.IdleTimeoutDc = 4 * 60;
    p.user.IdleDc.Action = PowerActionSleep;
    p.mach.DozeS4TimeoutDc = (60 - 4) * 60;
    p.user.SpindownTimeoutAc = 45 * 60;
    p.user.SpindownTimeoutDc = 0;
    return p;
  }

  // Policy time-outs equal to the seeded scheme.
  static std::string AllEqual() { return PolicyOf({20, 10, 70, 7, 5, 45, 30, 15}); }

  // Runs one pass and checks that it closed every handle it opened, of any kind, let go of the
  // power profile it loaded, and kept the invariants of every pass.
  void RunPass(const PassVariant& variant = kServicePass) {
    const pass_invariants::PassInvariants invariants(logPath_);
    RunPolicyPass(variant);
    EXPECT_EQ(host::OpenHandleCount(), 0u) << "the pass left handles open";
    EXPECT_EQ(host::LoadedLibraryCount(), 0u) << "the pass left powrprof.dll loaded";
    for (const std::string& broken : invariants.Broken()) ADD_FAILURE() << broken;
  }

  // Runs one pass while the test, as another program, changes the power schemes during it: the
  // invariants judge the pass's own changes only, so they are not asked; handles still are.
  void RunPassBesideAnotherProgram(const PassVariant& variant = kServicePass) {
    RunPolicyPass(variant);
    EXPECT_EQ(host::OpenHandleCount(), 0u) << "the pass left handles open";
    EXPECT_EQ(host::LoadedLibraryCount(), 0u) << "the pass left powrprof.dll loaded";
  }

  // The log file's bytes; "<no file>" when the pass created none.
  std::string LogText() const {
    std::ifstream in(logPath_, std::ios::binary);
    if (!in) return "<no file>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  // Log lines as written: each "ERROR: "/"INFO: " + text + CR LF.
  static std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
  }

  // The log at level 11 of a pass of `variant` that changes every setting: each
  // announcement, in the variant's words, followed by its setter's success line, then the
  // commit. The service's pass names the default user; the logon tool's the user who logs on.
  // (SettingTableTest holds the table's texts to the system's own.)
  static std::string LogOfEveryChange(const PassVariant& variant) {
    std::vector<std::string> lines;
    for (const Setting& setting : kSettings) {
      lines.push_back(std::string("INFO: ") + setting.*variant.announcement);
      lines.push_back(std::string("INFO: ") + setting.successLine);
    }
    lines.push_back("INFO: Commiting of Power Scheme() Succeded");
    return Lines(lines);
  }

  using Values = std::vector<std::pair<std::string, DWORD>>;

  static Values Concat(Values a, const Values& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  // The backup key's values in the order they were first written; every one must be a
  // four-byte REG_DWORD.
  static Values Backup(HKEY root) {
    Values values;
    std::istringstream text(host::ExportRegText(root, schema::kBackupKey));
    std::string line;
    while (std::getline(text, line)) {
      if (line.empty() || line[0] != '"') continue;
      const size_t close = line.find("\"=");
      const std::string name = line.substr(1, close - 1);
      const std::string data = line.substr(close + 2);
      EXPECT_EQ(data.compare(0, 6, "dword:"), 0) << "not a DWORD: " << line;
      values.emplace_back(name, static_cast<DWORD>(std::stoul(data.substr(6), nullptr, 16)));
    }
    return values;
  }

  static bool BackupExists(HKEY root) { return host::KeyExists(root, schema::kBackupKey); }

  // The active scheme's record as stored.
  static POWER_POLICY StoredScheme(unsigned index = kActiveScheme) {
    return scheme_store::StoredScheme(index);
  }

  static bool SchemeUnchanged(unsigned index = kActiveScheme) {
    return scheme_store::StoredUserHalf(index) ==
               scheme_store::BytesOf(scheme_store::DistinctPolicy().user) &&
           scheme_store::StoredMachineHalf(index) ==
               scheme_store::BytesOf(scheme_store::DistinctPolicy().mach);
  }

  static std::string Hex(DWORD value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
    return text;
  }

  static constexpr const char* kVerifiedRoot =
      "\"Control\"=\"Verify\"\n\"MajorVersion\"=dword:00000002\n\"SettingsScheme\"=\"Simple\"\n";

  std::string dir_;
  std::string logPath_;

 private:
  std::string WithLogPath(std::string text) const {
    const size_t at = text.find("LOGFILE");
    if (at != std::string::npos) text.replace(at, 7, logPath_);
    return text;
  }
};

#endif

// The MSI package under the installer of the prefix: msiexec started with CreateProcess, as an
// administrator or a management system starts it, and what each step leaves checked through
// the Win32 API: the programs in the system directory byte for byte, the service's key and
// state (the service control manager's own calls), the Run value, the event source, the
// installer's list of products with the package's upgrade code, the service's first pass (its
// debug texts, log and backup key) and the administrator's keys. The build's package, the same
// programs packaged one version higher and one lower, and a higher one whose service cannot
// start, come from the build.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <msi.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DebugMonitor.h"
#include "ExamplePolicy.h"
#include "Files.h"
#include "Programs.h"
#include "Registry.h"
#include "Services.h"

namespace {

using winetest::Bytes;
using winetest::ProgramRun;
using winetest::ServiceState;
using winetest::Where;

struct Package {
  const char* path;  // a Unix path
  const char* version;
};
const Package kBuilt = {PM_MSI_PACKAGE, PM_MSI_VERSION};
const Package kHigher = {PM_MSI_HIGHER_PACKAGE, PM_MSI_HIGHER_VERSION};
const Package kLower = {PM_MSI_LOWER_PACKAGE, PM_MSI_LOWER_VERSION};
// The higher version with the logon tool as its service program, which is no service.
const Package kFailing = {PM_MSI_FAILING_PACKAGE, PM_MSI_HIGHER_VERSION};

constexpr DWORD kInstalled = ERROR_SUCCESS;
// An install refused by a launch condition (an older package over a newer one), or one that
// failed and was rolled back.
constexpr DWORD kRefused = ERROR_INSTALL_FAILURE;  // 1603
constexpr DWORD kMsiexecTimeoutMs = 60000;
constexpr DWORD kServiceEndTimeoutMs = 10000;

constexpr const char* kSimpleKey = "Software\\Policies\\Velmorant\\Dorvane\\Simple";
// The Application log's event source, under HKEY_LOCAL_MACHINE; its messages are in Hollin.exe.
constexpr const char* kEventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\PMevents";
// Error, warning and information events.
constexpr DWORD kEventTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
// What the installer lists under the Uninstall key.
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kProductName = "Dorvane Power Management";

std::string HollinPath() { return winetest::SystemDir() + "\\Hollin.exe"; }
std::string LogonToolPath() { return winetest::SystemDir() + "\\Dorvane_Tool.exe"; }
// Where the example policy's LogFile, %SystemRoot%\Temp\Dorvane.log, points.
std::string LogPath() { return winetest::WindowsDir() + "\\Temp\\Dorvane.log"; }

std::string FileBytes(const std::string& path) {
  std::string bytes;
  winetest::ReadFileBytes(path, &bytes);
  return bytes;
}

// The product code and version of every installed product with the package's upgrade code.
std::vector<std::pair<std::string, std::string>> InstalledProducts() {
  std::vector<std::pair<std::string, std::string>> products;
  char code[39];
  for (DWORD index = 0;
       MsiEnumRelatedProductsA(PM_MSI_UPGRADE_CODE, 0, index, code) == ERROR_SUCCESS; ++index) {
    char version[64] = "";
    DWORD size = sizeof version;
    if (MsiGetProductInfoA(code, "VersionString", version, &size) != ERROR_SUCCESS) {
      version[0] = '\0';
    }
    products.emplace_back(code, version);
  }
  return products;
}

std::vector<std::string> InstalledVersions() {
  std::vector<std::string> versions;
  for (const auto& product : InstalledProducts()) versions.push_back(product.second);
  return versions;
}

ProgramRun Msiexec(const std::vector<std::string>& arguments) {
  return winetest::RunProgram(winetest::SystemDir() + "\\msiexec.exe", arguments,
                              kMsiexecTimeoutMs);
}

// msiexec with these arguments ended with `status`.
ProgramRun ExpectMsiexec(Where where, const std::vector<std::string>& arguments, DWORD status) {
  ProgramRun run = Msiexec(arguments);
  if (!run.started || !run.ended || run.exitCode != status) {
    std::string line;
    for (const std::string& argument : arguments) line += " " + argument;
    ADD_FAILURE_AT(where.file, where.line)
        << "msiexec" << line << ": started " << run.started << " (error " << run.startError
        << "), ended " << run.ended << ", exit status " << run.exitCode << ", expected " << status
        << "\n"
        << run.output;
  }
  return run;
}

void ExpectInstall(Where where, const Package& package, DWORD status) {
  ExpectMsiexec(where, {"/i", winetest::WinePathOf(package.path), "/qn"}, status);
}

void ExpectUninstall(Where where, const Package& package) {
  ExpectMsiexec(where, {"/x", winetest::WinePathOf(package.path), "/qn"}, kInstalled);
}

// Waits up to `timeoutMs` until the service is gone; an installer may delete it while its
// process still ends.
bool ServiceGone(DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 50) {
    if (!winetest::QueryService().exists) return true;
    if (waited >= timeoutMs) return false;
    Sleep(50);
  }
}

// Uninstalls every version of the package, then removes whatever a failed step may have left:
// the service, the programs, the Run value. The empty text on success, else what failed.
std::string RemoveEverything() {
  std::string failed;
  for (const auto& product : InstalledProducts()) {
    ProgramRun run = Msiexec({"/x", product.first, "/qn"});
    if (!run.ended || run.exitCode != kInstalled) {
      failed +=
          "msiexec /x " + product.first + ": exit status " + std::to_string(run.exitCode) + "; ";
    }
  }
  if (!ServiceGone(kServiceEndTimeoutMs)) failed += winetest::RemoveService();
  for (const std::string& path : {HollinPath(), LogonToolPath()}) {
    if (!winetest::DeleteFileIfPresent(path)) failed += "deleting " + path + "; ";
  }
  if (winetest::DeleteValue(HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue) !=
      ERROR_SUCCESS) {
    failed += "deleting the Run value; ";
  }
  const LONG source = winetest::DeleteTree(HKEY_LOCAL_MACHINE, kEventSourceKey);
  if (source != ERROR_SUCCESS && source != ERROR_FILE_NOT_FOUND) {
    failed += "deleting the event source; ";
  }
  return failed;
}

// The products the installer lists under the Uninstall key by this name: key name (the product
// code) and values.
std::map<std::string, std::map<std::string, winetest::RegValue>> UninstallEntries(
    const std::string& displayName) {
  std::map<std::string, std::map<std::string, winetest::RegValue>> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return entries;
  }
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    auto values = winetest::ValuesOf(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\" + name);
    if (values.count("DisplayName") != 0 &&
        values["DisplayName"].data == winetest::TextBytes(displayName)) {
      entries[name] = values;
    }
  }
  RegCloseKey(key);
  return entries;
}

// Holds back every process's next debug text, and so the installed service in its pass at the
// pass's first text: a pass that takes as long as a test needs. A debug text waits for the
// monitors' mutex, which a thread of the test takes; it lets go when released, and after
// `limitMs` in any case, so an installer that waits for the service does not wait forever.
class PassHold {
 public:
  explicit PassHold(DWORD limitMs) : release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    holder_ = std::thread([this, limitMs, taken] {
      HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "DBWinMutex");
      held_ = mutex != nullptr && release_ != nullptr &&
              WaitForSingleObject(mutex, kServiceEndTimeoutMs) == WAIT_OBJECT_0;
      SetEvent(taken);
      if (held_) {
        WaitForSingleObject(release_, limitMs);
        ReleaseMutex(mutex);
      }
      if (mutex != nullptr) CloseHandle(mutex);
    });
    WaitForSingleObject(taken, INFINITE);
    CloseHandle(taken);
  }
  PassHold(const PassHold&) = delete;
  PassHold& operator=(const PassHold&) = delete;
  ~PassHold() {
    Release();
    if (release_ != nullptr) CloseHandle(release_);
  }

  bool Held() const { return held_; }
  void Release() {
    if (release_ != nullptr) SetEvent(release_);
    if (holder_.joinable()) holder_.join();
  }

 private:
  HANDLE release_;
  bool held_ = false;
  std::thread holder_;
};

// A key's values by name: type and bytes.
using KeyValues = std::map<std::string, std::pair<DWORD, Bytes>>;

KeyValues ValuesOf(HKEY root, const std::string& path) {
  KeyValues values;
  for (const auto& entry : winetest::ValuesOf(root, path)) {
    values[entry.first] = {entry.second.type, entry.second.data};
  }
  return values;
}

class MsiPackage : public ::testing::Test {
 protected:
  // Nothing of the package installed; the default schemes and the example policy; no log.
  void SetUp() override {
    ASSERT_TRUE(monitor_.Listening());
    ASSERT_EQ("", RemoveEverything());
    ASSERT_EQ("", winetest::SeedDefaultSchemesAndExamplePolicy());
    ASSERT_TRUE(winetest::DeleteFileIfPresent(LogPath())) << GetLastError();
    ASSERT_TRUE(winetest::ReadScheme(0, &defaults_)) << "the fixture's scheme 0";
  }

  void TearDown() override { EXPECT_EQ("", RemoveEverything()); }

  // Exactly one version of the package is installed, `version`, with both programs of the
  // build in the system directory, the service registered and running, and the Run value.
  void ExpectInstalled(Where where, const char* version) {
    if (InstalledVersions() != std::vector<std::string>{version}) {
      std::string found;
      for (const std::string& installed : InstalledVersions()) found += " " + installed;
      ADD_FAILURE_AT(where.file, where.line)
          << "installed versions:" << found << ", expected " << version;
    }
    for (const auto& program : {std::make_pair(HollinPath(), PM_HOLLIN_PROGRAM),
                                std::make_pair(LogonToolPath(), PM_LOGON_TOOL_PROGRAM)}) {
      const std::string installed = FileBytes(program.first);
      if (installed.empty() || installed != FileBytes(winetest::WinePathOf(program.second))) {
        ADD_FAILURE_AT(where.file, where.line)
            << program.first << " is not the build's " << program.second << " (" << installed.size()
            << " bytes)";
      }
    }
    const std::string key = winetest::kServiceKey;
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, key, "DisplayName", REG_SZ,
                          winetest::TextBytes(winetest::kServiceDisplayName));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, key, "Type", REG_DWORD,
                          winetest::DwordBytes(SERVICE_WIN32_OWN_PROCESS));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, key, "Start", REG_DWORD,
                          winetest::DwordBytes(SERVICE_AUTO_START));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, key, "ErrorControl", REG_DWORD,
                          winetest::DwordBytes(SERVICE_ERROR_IGNORE));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, key, "ObjectName", REG_SZ,
                          winetest::TextBytes("LocalSystem"));
    // Windows' installer registers the program in quotes as an expandable text, as
    // "Hollin /Install" does; Wine's registers it without quotes, as a plain text. The path
    // has no space, so the service control manager finds the same program either way.
    if (winetest::IsWine()) {
      winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, key, "ImagePath", REG_SZ,
                            winetest::TextBytes(HollinPath()));
    } else {
      winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, key, "ImagePath", REG_EXPAND_SZ,
                            winetest::TextBytes("\"" + HollinPath() + "\""));
    }
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue,
                          REG_EXPAND_SZ, winetest::TextBytes(LogonToolPath()));
    ExpectEventSource(where);
    winetest::ExpectServiceRunning(where);
  }

  // The event source holds exactly its two values: the message file, Hollin.exe's path as an
  // expandable text, and the types of event it reports.
  void ExpectEventSource(Where where) {
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, kEventSourceKey, "EventMessageFile",
                          REG_EXPAND_SZ, winetest::TextBytes(HollinPath()));
    winetest::ExpectValue(where, HKEY_LOCAL_MACHINE, kEventSourceKey, "TypesSupported", REG_DWORD,
                          winetest::DwordBytes(kEventTypesSupported));
    const size_t values = winetest::ValuesOf(HKEY_LOCAL_MACHINE, kEventSourceKey).size();
    if (values != 2) {
      ADD_FAILURE_AT(where.file, where.line) << "the event source holds " << values << " values";
    }
  }

  // No version of the package is installed, and nothing of it is left: no program (but those
  // named in `left`), no service, no Run value, no event source.
  void ExpectRemoved(Where where, const std::vector<std::string>& left = {}) {
    const std::vector<std::string> versions = InstalledVersions();
    if (!versions.empty()) {
      ADD_FAILURE_AT(where.file, where.line) << versions.size() << " versions still installed";
    }
    for (const std::string& path : {HollinPath(), LogonToolPath()}) {
      const bool expectedLeft = std::find(left.begin(), left.end(), path) != left.end();
      if (winetest::FileExists(path) != expectedLeft) {
        ADD_FAILURE_AT(where.file, where.line) << path << (expectedLeft ? " is gone" : " is left");
      }
    }
    if (!ServiceGone(kServiceEndTimeoutMs)) {
      ADD_FAILURE_AT(where.file, where.line) << "the service is still registered";
    }
    winetest::ExpectNoKey(where, HKEY_LOCAL_MACHINE, winetest::kServiceKey);
    winetest::ExpectNoValue(where, HKEY_LOCAL_MACHINE, winetest::kRunKey, winetest::kRunValue);
    winetest::ExpectNoKey(where, HKEY_LOCAL_MACHINE, kEventSourceKey);
  }

  winetest::DebugMonitor monitor_;
  POWER_POLICY defaults_ = {};
};

TEST_F(MsiPackage, InstallPutsTheProgramsInTheSystemDirectoryAndRegistersBoth) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  ExpectInstalled(HERE, kBuilt.version);
}

// The installed service is the real one: two seconds after its start it applies the example
// policy, logs in the service's words and keeps its backup for the machine.
TEST_F(MsiPackage, TheInstalledServiceRunsItsFirstPass) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  winetest::ExpectFirstPass(HERE, monitor_);
  ASSERT_FALSE(HasFailure());

  EXPECT_FILE_LINES(LogPath(), winetest::FirstPassLog(".Default User"));
  EXPECT_REG_DWORDS_ONLY(HKEY_LOCAL_MACHINE, winetest::kBackupKey, winetest::FirstPassBackup());
  EXPECT_SCHEME(0, winetest::EnforcedByTheExample(defaults_));
}

// The older product is removed first: its service stopped and deleted, then the new one
// installed and started, which runs a pass of its own.
TEST_F(MsiPackage, UpgradeToAHigherVersionLeavesOneProductAndTheServiceRunning) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  const ServiceState before = winetest::ExpectFirstPass(HERE, monitor_);
  ASSERT_FALSE(HasFailure());

  ExpectInstall(HERE, kHigher, kInstalled);
  ExpectInstalled(HERE, kHigher.version);
  EXPECT_TRUE(winetest::ProcessEnds(before.processId, kServiceEndTimeoutMs));
  winetest::ExpectFirstPass(HERE, monitor_);
}

// The upgrade starts as soon as the install has ended, while the service it started usually
// still waits out its two-second start delay: the stop request ends it there, without a pass.
// Wine's installer does not wait for a service to stop before it replaces the program, so a
// service that answered a stop late would leave the upgrade half done.
TEST_F(MsiPackage, UpgradeRightAfterInstallLeavesOneProductAndTheServiceRunning) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  const ServiceState before = winetest::ExpectServiceRunning(HERE);
  ASSERT_FALSE(HasFailure());

  ExpectInstall(HERE, kHigher, kInstalled);
  ExpectInstalled(HERE, kHigher.version);
  EXPECT_TRUE(winetest::ProcessEnds(before.processId, kServiceEndTimeoutMs));
  winetest::ExpectFirstPass(HERE, monitor_);
}

// A newer version stays as it is: the same product, programs, registration and running
// service process.
TEST_F(MsiPackage, DowngradeIsRefusedAndChangesNothing) {
  ExpectInstall(HERE, kHigher, kInstalled);
  const ServiceState before = winetest::ExpectFirstPass(HERE, monitor_);
  ASSERT_FALSE(HasFailure());
  const auto products = InstalledProducts();
  const std::string hollin = FileBytes(HollinPath());
  const std::string logonTool = FileBytes(LogonToolPath());
  const KeyValues serviceKey = ValuesOf(HKEY_LOCAL_MACHINE, winetest::kServiceKey);
  const KeyValues runKey = ValuesOf(HKEY_LOCAL_MACHINE, winetest::kRunKey);
  const KeyValues eventSource = ValuesOf(HKEY_LOCAL_MACHINE, kEventSourceKey);

  ExpectInstall(HERE, kLower, kRefused);
  EXPECT_EQ(products, InstalledProducts());
  EXPECT_EQ(hollin, FileBytes(HollinPath()));
  EXPECT_EQ(logonTool, FileBytes(LogonToolPath()));
  EXPECT_EQ(serviceKey, ValuesOf(HKEY_LOCAL_MACHINE, winetest::kServiceKey));
  EXPECT_EQ(runKey, ValuesOf(HKEY_LOCAL_MACHINE, winetest::kRunKey));
  EXPECT_EQ(eventSource, ValuesOf(HKEY_LOCAL_MACHINE, kEventSourceKey));
  const ServiceState after = winetest::QueryService();
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), after.state);
  EXPECT_EQ(before.processId, after.processId);
}

// The policy is the administrator's, and the backup key records what the service replaced:
// both outlive the package. The event source's key goes whole, with a value the package did
// not write.
TEST_F(MsiPackage, UninstallRemovesProgramsServiceAndRunValueAndKeepsTheAdministratorsKeys) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  const ServiceState service = winetest::ExpectFirstPass(HERE, monitor_);
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(ERROR_SUCCESS,
            winetest::SetDword(HKEY_LOCAL_MACHINE, kEventSourceKey, "CategoryCount", 1));
  const struct {
    HKEY root;
    const char* path;
  } kKept[] = {{HKEY_LOCAL_MACHINE, winetest::kGroupPolicyKey},
               {HKEY_LOCAL_MACHINE, winetest::kOptionsKey},
               {HKEY_LOCAL_MACHINE, kSimpleKey},
               {HKEY_LOCAL_MACHINE, winetest::kBackupKey}};
  std::vector<KeyValues> before;
  for (const auto& key : kKept) {
    before.push_back(ValuesOf(key.root, key.path));
    ASSERT_FALSE(before.back().empty()) << key.path;
  }

  ExpectUninstall(HERE, kBuilt);
  ExpectRemoved(HERE);
  EXPECT_TRUE(winetest::ProcessEnds(service.processId, kServiceEndTimeoutMs));
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(before[i], ValuesOf(kKept[i].root, kKept[i].path)) << kKept[i].path;
  }
}

// As the upgrade right after the install: the stop request usually reaches the service in its
// start delay, and the uninstall must remove everything all the same.
TEST_F(MsiPackage, UninstallRightAfterInstallRemovesEverything) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  const ServiceState service = winetest::ExpectServiceRunning(HERE);
  ASSERT_FALSE(HasFailure());

  ExpectUninstall(HERE, kBuilt);
  ExpectRemoved(HERE);
  EXPECT_TRUE(winetest::ProcessEnds(service.processId, kServiceEndTimeoutMs));
}

// The old version is removed inside the new one's installation, so when that fails (here when
// it starts its service) Windows Installer rolls back to the old version, service running.
// Wine's msiexec removes the old version in a separate installation that has ended before the
// new one's steps run, and its rollback undoes only those: no version is left, nothing of
// either, and it answers 1627 where Windows answers 1603.
TEST_F(MsiPackage, FailedUpgradeLeavesTheOldVersionOnWindowsAndNoneUnderWine) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  winetest::ExpectFirstPass(HERE, monitor_);
  ASSERT_FALSE(HasFailure());
  const auto products = InstalledProducts();

  if (winetest::IsWine()) {
    ExpectInstall(HERE, kFailing, ERROR_FUNCTION_FAILED);
    ExpectRemoved(HERE);
  } else {
    ExpectInstall(HERE, kFailing, kRefused);
    EXPECT_EQ(products, InstalledProducts());
    ExpectInstalled(HERE, kBuilt.version);
  }
}

// How an administrator removes whatever version is installed: by the product code the
// installer lists under the Uninstall key. The package of an older version no longer names an
// installed product after an upgrade, and a product code that is not installed is refused.
TEST_F(MsiPackage, UninstallByTheProductCodeOfTheUninstallKey) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  ExpectInstall(HERE, kHigher, kInstalled);
  ExpectInstalled(HERE, kHigher.version);
  ASSERT_FALSE(HasFailure());

  auto entries = UninstallEntries(kProductName);
  ASSERT_EQ(1u, entries.size());
  const std::string code = entries.begin()->first;
  auto& values = entries.begin()->second;
  EXPECT_EQ(winetest::TextBytes(kHigher.version), values["DisplayVersion"].data);
  EXPECT_EQ(REG_EXPAND_SZ, values["UninstallString"].type);
  EXPECT_EQ(winetest::TextBytes("MsiExec.exe /X" + code), values["UninstallString"].data);

  // Windows answers 1605 (not installed) for the older package; Wine's msiexec 1603.
  ExpectMsiexec(HERE, {"/x", winetest::WinePathOf(kBuilt.path), "/qn"},
                winetest::IsWine() ? ERROR_INSTALL_FAILURE : ERROR_UNKNOWN_PRODUCT);
  ExpectInstalled(HERE, kHigher.version);

  ExpectMsiexec(HERE, {"/x", code, "/qn"}, kInstalled);
  ExpectRemoved(HERE);
  ExpectMsiexec(HERE, {"/x", code, "/qn"}, ERROR_UNKNOWN_PRODUCT);
}

// The uninstall comes while the service is in a pass (held at its first debug text, as a pass
// that takes long). Windows Installer waits for the stop the package asks for, the pass ends
// first and everything is removed. Wine's msiexec sends the stop and goes on at once: the
// program of the still running service cannot be deleted, and stays behind though msiexec
// answers 0; the rest is removed.
TEST_F(MsiPackage, UninstallDuringAPassWaitsForTheServiceOnWindowsOnly) {
  ExpectInstall(HERE, kBuilt, kInstalled);
  const ServiceState service = winetest::ExpectServiceRunning(HERE);
  ASSERT_FALSE(HasFailure());
  {
    // Longer than Wine's msiexec takes, shorter than Windows Installer waits (30 seconds).
    PassHold hold(15000);
    ASSERT_TRUE(hold.Held());
    // The start delay (2 seconds) and a margin: the service is in its pass, held.
    Sleep(3000);
    ExpectUninstall(HERE, kBuilt);
  }
  EXPECT_TRUE(monitor_.WaitFor(service.processId, winetest::kPassBegins, kServiceEndTimeoutMs));
  EXPECT_TRUE(monitor_.WaitFor(service.processId, winetest::kPassEnds, kServiceEndTimeoutMs));
  EXPECT_TRUE(winetest::ProcessEnds(service.processId, kServiceEndTimeoutMs));
  if (winetest::IsWine()) {
    ExpectRemoved(HERE, {HollinPath()});
    EXPECT_EQ(FileBytes(winetest::WinePathOf(PM_HOLLIN_PROGRAM)), FileBytes(HollinPath()));
  } else {
    ExpectRemoved(HERE);
  }
}

}  // namespace

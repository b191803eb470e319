// The gate table: every function the stand-in declares is in it, each failable one fails in
// the shape the table gives it and does nothing else, and each recorded-only one goes ahead.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BackgroundThread.h"
#include "CurrentSchemeStore.h"
#include "HostControl.h"
#include "HostServiceControl.h"
#include "HostUiControl.h"
#include "Win32Api.h"

namespace {

namespace gated = host::gated;
using host::FailureEffect;

constexpr DWORD kInjected = 0x4711;
constexpr DWORD kSentinelError = 0x5E5E;
constexpr DWORD kSentinelWord = 0xDEADBEEF;
const HKEY kSentinelKey = reinterpret_cast<HKEY>(0x5EA);

// A result widened to 64 bits with its sign, so every failure answer compares alike:
// INVALID_HANDLE_VALUE, INVALID_FILE_SIZE and a BOOL of -1 all read as -1.
template <typename T>
int64_t Widen(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(value));
  } else if constexpr (std::is_unsigned_v<T> && sizeof(T) == 4) {
    return static_cast<int32_t>(value);
  } else {
    return static_cast<int64_t>(value);
  }
}

// What a function whose failure answers its argument is seen to answer (LocalFree's call
// below maps the block it gave to this).
constexpr intptr_t kItsArgument = 0x5EA70;

int64_t Expected(const host::FailableFunction& function) {
  switch (function.answer) {
    case host::FailureAnswer::kItsArgument:
      return kItsArgument;
    case host::FailureAnswer::kTheError:
      return Widen(static_cast<LONG>(kInjected));
    case host::FailureAnswer::kMinusOne:
      return -1;
    case host::FailureAnswer::kZero:
    case host::FailureAnswer::kNothing:
      break;
  }
  return 0;
}

// A scheme, subgroup and setting no Windows uses.
const GUID& kScheme = current_store::kSchemeAGuid;
const GUID& kSubgroup = current_store::kScratch.subgroupGuid;
const GUID& kSetting = current_store::kScratch.settingGuid;
using ReadIndex = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
using WriteIndex = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);

bool g_serviceMainRan = false;
void WINAPI ReturningMain(DWORD, LPSTR*) { g_serviceMainRan = true; }
char g_serviceName[] = "S";
const SERVICE_TABLE_ENTRYA kServiceTable[] = {{g_serviceName, ReturningMain}, {nullptr, nullptr}};

void WINAPI IgnoringHandler(DWORD) {}
INT_PTR CALLBACK EndingDialogProc(HWND dialog, UINT, WPARAM, LPARAM) {
  EndDialog(dialog, 1);
  return TRUE;
}

struct FatalExitStopped {};

// Everything a failing call must leave as it was, whatever the function.
struct World {
  std::string registry;
  size_t handles;
  size_t debugTexts;
  size_t events;
  size_t windows;
  size_t dialogs;
  size_t boxes;
  size_t endDialogs;
  size_t drawn;
  size_t statusReports;
  uint64_t clock;
  std::string file;
  size_t libraries;
  size_t localBlocks;

  // The handles, libraries and memory blocks together, as one count.
  friend World Released(World w) {
    w.handles += w.libraries + w.localBlocks;
    w.libraries = w.localBlocks = 0;
    return w;
  }

  bool operator==(const World& o) const {
    return registry == o.registry && handles == o.handles && debugTexts == o.debugTexts &&
           events == o.events && libraries == o.libraries && localBlocks == o.localBlocks &&
           windows == o.windows && dialogs == o.dialogs && boxes == o.boxes &&
           endDialogs == o.endDialogs && drawn == o.drawn && statusReports == o.statusReports &&
           clock == o.clock && file == o.file;
  }
};

std::string FileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<no file>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class GateTable : public ::testing::Test {
 protected:
  // Makes the failing call with a sentinel in every out-parameter and answers its result,
  // widened; sets `effect` to what else it was seen to do (kNone when nothing).
  using Invocation = std::function<int64_t(FailureEffect* effect)>;

  void SetUp() override {
    host::Reset();
    host::ui::Reset();
    host::SetDebugEcho(false);
    host::ui::SetFatalExitHook([](const host::ui::FatalExit&) { throw FatalExitStopped{}; });
    path_ = "/tmp/dorvane-gate-table-" + std::to_string(getpid()) + ".txt";
    std::remove(path_.c_str());

    // What the calls act on: a file holding "abc", a key with a value, the service control
    // manager, a signalled event, a window and an event source.
    file_ = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file_);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file_, "abc", 3, &written, nullptr));
    host::WriteDword(HKEY_CURRENT_USER, "Software\\K", "v", 1);
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\K", 0, KEY_ALL_ACCESS, &key_));
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager_);
    event_ = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(nullptr, event_);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "GateTable";
    ASSERT_NE(0, RegisterClassExA(&windowClass));
    window_ =
        CreateWindowExA(0, "GateTable", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window_);
    source_ = RegisterEventSourceA(nullptr, "PMevents");
    ASSERT_NE(nullptr, source_);
    g_serviceMainRan = false;
    // The current power-scheme functions, reached as on Windows: a current machine's
    // powrprof.dll, loaded once, and its exports by name.
    host::SetPowerMachine(host::PowerMachine::kCurrent);
    powrprof_ = LoadLibraryA("powrprof.dll");
    ASSERT_NE(nullptr, powrprof_);
    block_ = LocalAlloc(LPTR, 16);
    ASSERT_NE(nullptr, block_);
    host::ClearCalls();
  }

  template <typename Function>
  Function Export(const char* name) {
    // Through void (*)(), the one function type a cast from FARPROC may pass without warning.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(powrprof_, name)));
  }

  void TearDown() override {
    host::Reset();
    host::ui::Reset();
    std::remove(path_.c_str());
    std::remove((path_ + ".other").c_str());
  }

  World Snapshot() const {
    return World{host::ExportRegText(),
                 host::OpenHandleCount(),
                 host::DebugOutput().size(),
                 host::ReportedEvents().size(),
                 host::ui::Windows().size(),
                 host::ui::Dialogs().size(),
                 host::ui::MessageBoxes().size(),
                 host::ui::EndDialogs().size(),
                 host::ui::DrawnTexts().size(),
                 host::ServiceStatusReports().size(),
                 host::ClockNow(),
                 FileContents(path_),
                 host::LoadedLibraryCount(),
                 host::LocalBlockCount()};
  }

  // One call of each failable function; expectations inside check what is particular to it.
  std::map<std::string, Invocation> FailableInvocations() {
    const auto none = [](FailureEffect* effect) { *effect = FailureEffect::kNone; };
    std::map<std::string, Invocation> calls = {
        // Registry
        {gated::RegOpenKeyExA.name,
         [none](FailureEffect* effect) {
           HKEY key = kSentinelKey;
           LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\K", 0, KEY_READ, &key);
           EXPECT_EQ(kSentinelKey, key);
           none(effect);
           return Widen(rc);
         }},
        {gated::RegCreateKeyExA.name,
         [none](FailureEffect* effect) {
           HKEY key = kSentinelKey;
           DWORD disposition = kSentinelWord;
           LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0,
                                     KEY_ALL_ACCESS, nullptr, &key, &disposition);
           EXPECT_EQ(kSentinelKey, key);
           EXPECT_EQ(kSentinelWord, disposition);
           none(effect);
           return Widen(rc);
         }},
        {gated::RegQueryValueExA.name,
         [this, none](FailureEffect* effect) {
           DWORD type = kSentinelWord;
           BYTE data[4] = {0xEE, 0xEE, 0xEE, 0xEE};
           DWORD size = sizeof data;
           LONG rc = RegQueryValueExA(key_, "v", nullptr, &type, data, &size);
           EXPECT_EQ(kSentinelWord, type);
           EXPECT_EQ(0xEE, data[0]);
           EXPECT_EQ(sizeof data, size);
           none(effect);
           return Widen(rc);
         }},
        {gated::RegSetValueExA.name,
         [this, none](FailureEffect* effect) {
           const BYTE two[] = {2, 0, 0, 0};
           none(effect);
           return Widen(RegSetValueExA(key_, "x", 0, REG_DWORD, two, 4));
         }},
        {gated::RegDeleteValueA.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(RegDeleteValueA(key_, "v"));
         }},
        {gated::RegDeleteKeyA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\K"));
         }},
        {gated::RegEnumKeyExA.name,
         [none](FailureEffect* effect) {
           char name[8] = "sentin";
           DWORD size = sizeof name;
           LONG rc = RegEnumKeyExA(HKEY_CURRENT_USER, 0, name, &size, nullptr, nullptr, nullptr,
                                   nullptr);
           EXPECT_STREQ("sentin", name);
           EXPECT_EQ(sizeof name, size);
           none(effect);
           return Widen(rc);
         }},
        {gated::RegFlushKey.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(RegFlushKey(key_));
         }},
        {gated::RegCloseKey.name,
         [this](FailureEffect* effect) {
           LONG rc = RegCloseKey(key_);
           *effect =
               host::OpenKeyCount() == 0 ? FailureEffect::kReleasesHandle : FailureEffect::kNone;
           return Widen(rc);
         }},
        // Files and the environment
        {gated::SetErrorMode.name,
         [none](FailureEffect* effect) {
           UINT previous = SetErrorMode(SEM_NOOPENFILEERRORBOX);
           DWORD error = GetLastError();
           EXPECT_EQ(0u, SetErrorMode(0)) << "the mode changed";
           SetLastError(error);
           none(effect);
           return Widen(previous);
         }},
        {gated::ExpandEnvironmentStringsA.name,
         [none](FailureEffect* effect) {
           char buffer[8] = "keep";
           DWORD rc = ExpandEnvironmentStringsA("x", buffer, sizeof buffer);
           EXPECT_STREQ("keep", buffer);
           none(effect);
           return Widen(rc);
         }},
        {gated::CreateFileA.name,
         [this, none](FailureEffect* effect) {
           const std::string other = path_ + ".other";
           HANDLE file =
               CreateFileA(other.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
           EXPECT_NE(0, access(other.c_str(), F_OK)) << "the file was created";
           none(effect);
           return Widen(file);
         }},
        {gated::GetFileSize.name,
         [this, none](FailureEffect* effect) {
           DWORD high = kSentinelWord;
           DWORD rc = GetFileSize(file_, &high);
           EXPECT_EQ(kSentinelWord, high);
           none(effect);
           return Widen(rc);
         }},
        {gated::SetFilePointer.name,
         [this, none](FailureEffect* effect) {
           LONG high = static_cast<LONG>(kSentinelWord);
           DWORD rc = SetFilePointer(file_, 0, &high, FILE_BEGIN);
           DWORD error = GetLastError();
           EXPECT_EQ(static_cast<LONG>(kSentinelWord), high);
           EXPECT_EQ(3u, SetFilePointer(file_, 0, nullptr, FILE_CURRENT)) << "the file moved";
           SetLastError(error);
           none(effect);
           return Widen(rc);
         }},
        {gated::WriteFile.name,
         [this, none](FailureEffect* effect) {
           DWORD count = kSentinelWord;
           BOOL rc = WriteFile(file_, "more", 4, &count, nullptr);
           EXPECT_EQ(kSentinelWord, count);
           none(effect);
           return Widen(rc);
         }},
        {gated::ReadFile.name,
         [this, none](FailureEffect* effect) {
           char buffer[4] = {'k', 'e', 'e', 'p'};
           DWORD count = kSentinelWord;
           BOOL rc = ReadFile(file_, buffer, sizeof buffer, &count, nullptr);
           EXPECT_EQ(kSentinelWord, count);
           EXPECT_EQ('k', buffer[0]);
           none(effect);
           return Widen(rc);
         }},
        {gated::SetEndOfFile.name,
         [this, none](FailureEffect* effect) {
           SetFilePointer(file_, 1, nullptr, FILE_BEGIN);
           BOOL rc = SetEndOfFile(file_);
           DWORD error = GetLastError();
           SetFilePointer(file_, 0, nullptr, FILE_END);
           SetLastError(error);
           none(effect);
           return Widen(rc);
         }},
        {gated::GetFileType.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(GetFileType(file_));
         }},
        {gated::GetFileInformationByHandle.name,
         [this, none](FailureEffect* effect) {
           BY_HANDLE_FILE_INFORMATION info;
           std::memset(&info, 0xAB, sizeof info);
           BOOL rc = GetFileInformationByHandle(file_, &info);
           EXPECT_EQ(0xABABABABu, info.nNumberOfLinks);
           none(effect);
           return Widen(rc);
         }},
        {gated::CloseHandle.name,
         [this](FailureEffect* effect) {
           const size_t before = host::OpenHandleCount();
           BOOL rc = CloseHandle(file_);
           *effect = host::OpenHandleCount() == before - 1 ? FailureEffect::kReleasesHandle
                                                           : FailureEffect::kNone;
           return Widen(rc);
         }},
        {gated::DeleteFileA.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(DeleteFileA(path_.c_str()));
         }},
        {gated::GetFullPathNameA.name,
         [none](FailureEffect* effect) {
           char buffer[64] = "keep";
           LPSTR part = nullptr;
           DWORD rc = GetFullPathNameA("/x/y", sizeof buffer, buffer, &part);
           EXPECT_STREQ("keep", buffer);
           EXPECT_EQ(nullptr, part);
           none(effect);
           return Widen(rc);
         }},
        {gated::GetLongPathNameA.name,
         [this, none](FailureEffect* effect) {
           char buffer[256] = "keep";
           DWORD rc = GetLongPathNameA(path_.c_str(), buffer, sizeof buffer);
           EXPECT_STREQ("keep", buffer);
           none(effect);
           return Widen(rc);
         }},
        {gated::GetShortPathNameA.name,
         [this, none](FailureEffect* effect) {
           char buffer[256] = "keep";
           DWORD rc = GetShortPathNameA(path_.c_str(), buffer, sizeof buffer);
           EXPECT_STREQ("keep", buffer);
           none(effect);
           return Widen(rc);
         }},
        {gated::GetFinalPathNameByHandleA.name,
         [this, none](FailureEffect* effect) {
           char buffer[256] = "keep";
           DWORD rc = GetFinalPathNameByHandleA(file_, buffer, sizeof buffer, 0);
           EXPECT_STREQ("keep", buffer);
           none(effect);
           return Widen(rc);
         }},
        {gated::SetFileInformationByHandle.name,
         [this, none](FailureEffect* effect) {
           FILE_DISPOSITION_INFO info = {TRUE};
           BOOL rc = SetFileInformationByHandle(file_, FileDispositionInfo, &info, sizeof info);
           none(effect);
           return Widen(rc);
         }},
        {gated::GetSystemDirectoryA.name,
         [none](FailureEffect* effect) {
           char buffer[64] = "keep";
           UINT rc = GetSystemDirectoryA(buffer, sizeof buffer);
           EXPECT_STREQ("keep", buffer);
           none(effect);
           return Widen(rc);
         }},
        // Debug output and display settings
        {gated::OutputDebugStringA.name,
         [none](FailureEffect* effect) {
           OutputDebugStringA("lost");
           none(effect);
           return int64_t{0};
         }},
        // Event log and the user's name
        {gated::RegisterEventSourceA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(RegisterEventSourceA(nullptr, "PMevents"));
         }},
        {gated::ReportEventA.name,
         [this, none](FailureEffect* effect) {
           LPCSTR strings[] = {"lost"};
           none(effect);
           return Widen(ReportEventA(source_, EVENTLOG_WARNING_TYPE, 0, 3000, nullptr, 1, 0,
                                     strings, nullptr));
         }},
        {gated::DeregisterEventSource.name,
         [this](FailureEffect* effect) {
           const size_t before = host::OpenHandleCount();
           BOOL rc = DeregisterEventSource(source_);
           *effect = host::OpenHandleCount() == before - 1 ? FailureEffect::kReleasesHandle
                                                           : FailureEffect::kNone;
           return Widen(rc);
         }},
        {gated::GetUserNameA.name,
         [none](FailureEffect* effect) {
           char name[16] = "keep";
           DWORD size = sizeof name;
           BOOL rc = GetUserNameA(name, &size);
           EXPECT_STREQ("keep", name);
           EXPECT_EQ(sizeof name, size);
           none(effect);
           return Widen(rc);
         }},
        {gated::SystemParametersInfoA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(
               SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, SPIF_UPDATEINIFILE));
         }},
        // Power profile
        {gated::GetPwrCapabilities.name,
         [none](FailureEffect* effect) {
           SYSTEM_POWER_CAPABILITIES caps;
           std::memset(&caps, 0xEE, sizeof caps);
           BOOLEAN rc = GetPwrCapabilities(&caps);
           EXPECT_EQ(0xEE, caps.SystemS3);
           none(effect);
           return Widen(rc);
         }},
        {gated::GetActivePwrScheme.name,
         [none](FailureEffect* effect) {
           UINT id = kSentinelWord;
           BOOLEAN rc = GetActivePwrScheme(&id);
           EXPECT_EQ(kSentinelWord, id);
           none(effect);
           return Widen(rc);
         }},
        {gated::IsPwrHibernateAllowed.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(IsPwrHibernateAllowed());
         }},
        {gated::CanUserWritePwrScheme.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(CanUserWritePwrScheme());
         }},
        {gated::ReadPwrScheme.name,
         [none](FailureEffect* effect) {
           POWER_POLICY policy;
           std::memset(&policy, 0xEE, sizeof policy);
           BOOLEAN rc = ReadPwrScheme(0, &policy);
           EXPECT_EQ(0xEEEEEEEEu, policy.user.VideoTimeoutAc);
           none(effect);
           return Widen(rc);
         }},
        {gated::WritePwrScheme.name,
         [none](FailureEffect* effect) {
           POWER_POLICY policy = {};
           UINT id = 0;
           wchar_t name[] = L"Scheme";
           none(effect);
           return Widen(WritePwrScheme(&id, name, nullptr, &policy));
         }},
        {gated::EnumPwrSchemes.name,
         [none](FailureEffect* effect) {
           bool called = false;
           BOOLEAN rc = EnumPwrSchemes(
               [](UINT, DWORD, LPWSTR, DWORD, LPWSTR, PPOWER_POLICY, LPARAM context) -> BOOLEAN {
                 *reinterpret_cast<bool*>(context) = true;
                 return TRUE;
               },
               reinterpret_cast<LPARAM>(&called));
           EXPECT_FALSE(called) << "a failed enumeration called back";
           none(effect);
           return Widen(rc);
         }},
        {gated::SetActivePwrScheme.name,
         [none](FailureEffect* effect) {
           POWER_POLICY policy = {};
           none(effect);
           return Widen(SetActivePwrScheme(0, nullptr, &policy));
         }},
        // Current power-scheme interface; loading powrprof.dll
        {gated::PowerGetActiveScheme.name,
         [this, none](FailureEffect* effect) {
           auto get = Export<DWORD(WINAPI*)(HKEY, GUID**)>("PowerGetActiveScheme");
           GUID* active = reinterpret_cast<GUID*>(kSentinelKey);
           DWORD rc = get(nullptr, &active);
           EXPECT_EQ(reinterpret_cast<GUID*>(kSentinelKey), active);
           none(effect);
           return Widen(rc);
         }},
        {gated::PowerReadACValueIndex.name,
         [this, none](FailureEffect* effect) {
           DWORD value = kSentinelWord;
           DWORD rc = Export<ReadIndex>("PowerReadACValueIndex")(nullptr, &kScheme, &kSubgroup,
                                                                 &kSetting, &value);
           EXPECT_EQ(kSentinelWord, value);
           none(effect);
           return Widen(rc);
         }},
        {gated::PowerReadDCValueIndex.name,
         [this, none](FailureEffect* effect) {
           DWORD value = kSentinelWord;
           DWORD rc = Export<ReadIndex>("PowerReadDCValueIndex")(nullptr, &kScheme, &kSubgroup,
                                                                 &kSetting, &value);
           EXPECT_EQ(kSentinelWord, value);
           none(effect);
           return Widen(rc);
         }},
        {gated::PowerWriteACValueIndex.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(Export<WriteIndex>("PowerWriteACValueIndex")(nullptr, &kScheme, &kSubgroup,
                                                                     &kSetting, 5));
         }},
        {gated::PowerWriteDCValueIndex.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(Export<WriteIndex>("PowerWriteDCValueIndex")(nullptr, &kScheme, &kSubgroup,
                                                                     &kSetting, 5));
         }},
        {gated::PowerSetActiveScheme.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(Export<DWORD(WINAPI*)(HKEY, const GUID*)>("PowerSetActiveScheme")(
               nullptr, &kScheme));
         }},
        {gated::PowerSettingAccessCheck.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(Export<DWORD(WINAPI*)(POWER_DATA_ACCESSOR, const GUID*)>(
               "PowerSettingAccessCheck")(ACCESS_ACTIVE_SCHEME, nullptr));
         }},
        {gated::CallNtPowerInformation.name,
         [this, none](FailureEffect* effect) {
           SYSTEM_POWER_POLICY policy;
           std::memset(&policy, 0xA5, sizeof policy);
           const SYSTEM_POWER_POLICY before = policy;
           LONG rc = Export<LONG(WINAPI*)(POWER_INFORMATION_LEVEL, PVOID, ULONG, PVOID, ULONG)>(
               "CallNtPowerInformation")(SystemPowerPolicyAc, nullptr, 0, &policy, sizeof policy);
           EXPECT_EQ(0, std::memcmp(&before, &policy, sizeof policy));
           none(effect);
           return Widen(rc);
         }},
        {gated::LoadLibraryA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(LoadLibraryA("powrprof.dll"));
         }},
        {gated::GetProcAddress.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(GetProcAddress(powrprof_, "PowerGetActiveScheme"));
         }},
        {gated::FreeLibrary.name,
         [this](FailureEffect* effect) {
           BOOL rc = FreeLibrary(powrprof_);
           *effect = host::LoadedLibraryCount() == 0 ? FailureEffect::kReleasesHandle
                                                     : FailureEffect::kNone;
           return Widen(rc);
         }},
        {gated::LocalAlloc.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(LocalAlloc(LPTR, 16));
         }},
        {gated::LocalFree.name,
         [this](FailureEffect* effect) {
           HLOCAL rc = LocalFree(block_);
           *effect =
               host::LocalBlockCount() == 0 ? FailureEffect::kReleasesHandle : FailureEffect::kNone;
           return rc == block_ ? kItsArgument : Widen(rc);
         }},
        // Events and waits
        {gated::CreateEventA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(CreateEventA(nullptr, FALSE, FALSE, nullptr));
         }},
        {gated::SetEvent.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(SetEvent(event_));
         }},
        {gated::ResetEvent.name,
         [this, none](FailureEffect* effect) {
           BOOL rc = ResetEvent(event_);
           DWORD error = GetLastError();
           EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event_, 0))
               << "the event was reset";
           SetLastError(error);
           none(effect);
           return Widen(rc);
         }},
        {gated::WaitForSingleObject.name,
         [this, none](FailureEffect* effect) {
           DWORD rc = WaitForSingleObject(event_, 0);
           DWORD error = GetLastError();
           EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event_, 0))
               << "the failed wait took the signal";
           SetLastError(error);
           none(effect);
           return Widen(rc);
         }},
        {gated::Sleep.name,
         [](FailureEffect* effect) {
           // On the virtual clock a sleep that went ahead would never end.
           auto error = std::make_shared<DWORD>(0);
           BackgroundThread sleeper([error] {
             Sleep(1000);
             *error = GetLastError();
           });
           *effect = sleeper.Join() ? FailureEffect::kReturnsAtOnce : FailureEffect::kNone;
           SetLastError(*error);
           return int64_t{0};
         }},
        // Service control manager and dispatcher
        {gated::OpenSCManagerA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
         }},
        {gated::CreateServiceA.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(CreateServiceA(manager_, "S", nullptr, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_IGNORE, "C:\\S.exe", nullptr, nullptr, nullptr,
                                       nullptr, nullptr));
         }},
        {gated::OpenServiceA.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(OpenServiceA(manager_, "S", SERVICE_ALL_ACCESS));
         }},
        {gated::QueryServiceStatus.name,
         [none](FailureEffect* effect) {
           SERVICE_STATUS status;
           std::memset(&status, 0xEE, sizeof status);
           BOOL rc = QueryServiceStatus(nullptr, &status);
           EXPECT_EQ(0xEEEEEEEEu, status.dwCurrentState);
           none(effect);
           return Widen(rc);
         }},
        {gated::StartServiceA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(StartServiceA(nullptr, 0, nullptr));
         }},
        {gated::ControlService.name,
         [none](FailureEffect* effect) {
           SERVICE_STATUS status;
           std::memset(&status, 0xEE, sizeof status);
           BOOL rc = ControlService(nullptr, SERVICE_CONTROL_STOP, &status);
           EXPECT_EQ(0xEEEEEEEEu, status.dwCurrentState);
           none(effect);
           return Widen(rc);
         }},
        {gated::DeleteService.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(DeleteService(nullptr));
         }},
        {gated::CloseServiceHandle.name,
         [this](FailureEffect* effect) {
           const size_t before = host::OpenHandleCount();
           BOOL rc = CloseServiceHandle(manager_);
           *effect = host::OpenHandleCount() == before - 1 ? FailureEffect::kReleasesHandle
                                                           : FailureEffect::kNone;
           return Widen(rc);
         }},
        {gated::StartServiceCtrlDispatcherA.name,
         [](FailureEffect* effect) {
           host::ArrangeServiceStart("S");
           BOOL rc = StartServiceCtrlDispatcherA(kServiceTable);
           DWORD error = GetLastError();
           const bool ranNothing = !g_serviceMainRan;
           // The arranged start is still there.
           EXPECT_TRUE(StartServiceCtrlDispatcherA(kServiceTable));
           *effect =
               ranNothing && g_serviceMainRan ? FailureEffect::kRunsNothing : FailureEffect::kNone;
           SetLastError(error);
           return Widen(rc);
         }},
        {gated::RegisterServiceCtrlHandlerA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(RegisterServiceCtrlHandlerA("S", IgnoringHandler));
         }},
        {gated::SetServiceStatus.name,
         [none](FailureEffect* effect) {
           SERVICE_STATUS status = {};
           status.dwCurrentState = SERVICE_RUNNING;
           none(effect);
           return Widen(SetServiceStatus(nullptr, &status));
         }},
        // User interface: resources
        {gated::GetModuleHandleA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(GetModuleHandleA(nullptr));
         }},
        {gated::LoadStringA.name,
         [none](FailureEffect* effect) {
           char buffer[8] = "keep";
           int rc = LoadStringA(nullptr, 1, buffer, sizeof buffer);
           EXPECT_STREQ("keep", buffer);
           none(effect);
           return Widen(rc);
         }},
        {gated::LoadIconA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(LoadIconA(nullptr, MAKEINTRESOURCEA(1)));
         }},
        {gated::LoadCursorA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)));
         }},
        {gated::LoadAcceleratorsA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(1)));
         }},
        // User interface: windows, messages and painting
        {gated::RegisterClassExA.name,
         [none](FailureEffect* effect) {
           WNDCLASSEXA windowClass = {};
           windowClass.cbSize = sizeof windowClass;
           windowClass.lpfnWndProc = DefWindowProcA;
           windowClass.lpszClassName = "Refused";
           ATOM rc = RegisterClassExA(&windowClass);
           host::ui::WindowClass found;
           EXPECT_FALSE(host::ui::FindClass("Refused", &found));
           none(effect);
           return Widen(rc);
         }},
        {gated::CreateWindowExA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(CreateWindowExA(0, "GateTable", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                        nullptr, nullptr));
         }},
        {gated::UpdateWindow.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(UpdateWindow(window_));
         }},
        {gated::DestroyWindow.name,
         [this, none](FailureEffect* effect) {
           BOOL rc = DestroyWindow(window_);
           EXPECT_TRUE(host::ui::Windows().size() == 1 && IsWindow(window_));
           none(effect);
           return Widen(rc);
         }},
        {gated::DefWindowProcA.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(DefWindowProcA(window_, WM_NCCREATE, 0, 0));
         }},
        {gated::SendMessageA.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(SendMessageA(window_, WM_NCCREATE, 0, 0));
         }},
        {gated::PostMessageA.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(PostMessageA(window_, WM_USER, 0, 0));
         }},
        {gated::GetMessageA.name,
         [none](FailureEffect* effect) {
           MSG message;
           std::memset(&message, 0xEE, sizeof message);
           BOOL rc = GetMessageA(&message, nullptr, 0, 0);
           EXPECT_EQ(0xEEEEEEEEu, message.message);
           none(effect);
           return Widen(rc);
         }},
        {gated::DispatchMessageA.name,
         [this, none](FailureEffect* effect) {
           MSG message = {window_, WM_NCCREATE, 0, 0, 0, {0, 0}};
           none(effect);
           return Widen(DispatchMessageA(&message));
         }},
        {gated::BeginPaint.name,
         [this, none](FailureEffect* effect) {
           PAINTSTRUCT paint;
           std::memset(&paint, 0xEE, sizeof paint);
           HDC rc = BeginPaint(window_, &paint);
           EXPECT_EQ(0xEEEEEEEE, static_cast<uint32_t>(paint.rcPaint.right));
           none(effect);
           return Widen(rc);
         }},
        {gated::GetClientRect.name,
         [this, none](FailureEffect* effect) {
           RECT rect = {-1, -1, -1, -1};
           BOOL rc = GetClientRect(window_, &rect);
           EXPECT_EQ(-1, rect.right);
           none(effect);
           return Widen(rc);
         }},
        {gated::DrawTextA.name,
         [none](FailureEffect* effect) {
           RECT rect = {0, 0, 10, 10};
           none(effect);
           return Widen(DrawTextA(nullptr, "x", 1, &rect, 0));
         }},
        // User interface: dialogs and message boxes
        {gated::DialogBoxParamA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(
               DialogBoxParamA(nullptr, MAKEINTRESOURCEA(1), nullptr, EndingDialogProc, 0));
         }},
        {gated::EndDialog.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(EndDialog(window_, 1));
         }},
        {gated::GetDlgItem.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(GetDlgItem(window_, 1));
         }},
        {gated::SetDlgItemInt.name,
         [this, none](FailureEffect* effect) {
           BOOL rc = SetDlgItemInt(window_, 1, 5, FALSE);
           EXPECT_EQ("", host::ui::ItemText(window_, 1));
           none(effect);
           return Widen(rc);
         }},
        {gated::GetDlgItemInt.name,
         [this](FailureEffect* effect) {
           BOOL translated = TRUE;
           UINT rc = GetDlgItemInt(window_, 1, &translated, FALSE);
           *effect = translated == FALSE ? FailureEffect::kClearsOutput : FailureEffect::kNone;
           return Widen(rc);
         }},
        {gated::SetDlgItemTextA.name,
         [this, none](FailureEffect* effect) {
           BOOL rc = SetDlgItemTextA(window_, 1, "text");
           EXPECT_EQ("", host::ui::ItemText(window_, 1));
           none(effect);
           return Widen(rc);
         }},
        {gated::GetDlgItemTextA.name,
         [this](FailureEffect* effect) {
           char buffer[8] = "keep";
           UINT rc = GetDlgItemTextA(window_, 1, buffer, sizeof buffer);
           *effect = buffer[0] == '\0' ? FailureEffect::kClearsOutput : FailureEffect::kNone;
           return Widen(rc);
         }},
        {gated::CheckDlgButton.name,
         [this, none](FailureEffect* effect) {
           BOOL rc = CheckDlgButton(window_, 1, BST_CHECKED);
           EXPECT_EQ(static_cast<UINT>(BST_UNCHECKED), host::ui::ItemCheck(window_, 1));
           none(effect);
           return Widen(rc);
         }},
        {gated::IsDlgButtonChecked.name,
         [this, none](FailureEffect* effect) {
           none(effect);
           return Widen(IsDlgButtonChecked(window_, 1));
         }},
        {gated::MessageBoxA.name,
         [none](FailureEffect* effect) {
           none(effect);
           return Widen(MessageBoxA(nullptr, "text", "caption", MB_OK));
         }},
    };
    return calls;
  }

  // One call of each recorded-only function, answering whether it did its usual work.
  std::map<std::string, std::function<bool()>> RecordedInvocations() {
    return {
        {gated::ShowWindow.name,
         [this] {
           ShowWindow(window_, SW_SHOW);
           host::ui::WindowInfo info;
           return host::ui::GetWindowInfo(window_, &info) && info.visible;
         }},
        {gated::IsWindow.name, [this] { return IsWindow(window_) == TRUE; }},
        {gated::PostQuitMessage.name,
         [] {
           PostQuitMessage(3);
           int code = 0;
           return host::ui::QuitPending(&code) && code == 3;
         }},
        {gated::TranslateAcceleratorA.name,
         [this] {
           MSG message = {window_, WM_KEYDOWN, 'P', 0, 0, {0, 0}};
           return TranslateAcceleratorA(window_, nullptr, &message) == 0;
         }},
        {gated::TranslateMessage.name,
         [this] {
           MSG message = {window_, WM_KEYDOWN, 'P', 0, 0, {0, 0}};
           return TranslateMessage(&message) == FALSE;
         }},
        {gated::EndPaint.name,
         [this] {
           PAINTSTRUCT paint = {};
           return EndPaint(window_, &paint) == TRUE;
         }},
        {gated::FatalAppExitA.name,
         [] {
           try {
             FatalAppExitA(0, "end");
           } catch (const FatalExitStopped&) {
             return host::ui::FatalExits().size() == 1;
           }
           return false;
         }},
    };
  }

  std::string path_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HKEY key_ = nullptr;
  SC_HANDLE manager_ = nullptr;
  HANDLE event_ = nullptr;
  HWND window_ = nullptr;
  HMODULE powrprof_ = nullptr;
  HLOCAL block_ = nullptr;
  HANDLE source_ = nullptr;
};

// Each failable function, failed once: its answer, its last error and what else it did are
// the table's, and the call is recorded.
class FailableFunction : public GateTable,
                         public ::testing::WithParamInterface<host::FailableFunction> {};

TEST_P(FailableFunction, FailsInTheShapeTheTableGivesIt) {
  const host::FailableFunction& function = GetParam();
  std::map<std::string, Invocation> calls = FailableInvocations();
  auto call = calls.find(function.name);
  ASSERT_NE(call, calls.end()) << "no call of it in FailableInvocations";
  const World before = Snapshot();

  host::FailCall(function, 1, kInjected);
  SetLastError(kSentinelError);
  FailureEffect effect = FailureEffect::kNone;
  const int64_t answer = call->second(&effect);
  const DWORD lastError = GetLastError();

  EXPECT_EQ(Expected(function), answer);
  EXPECT_EQ(function.lastError == host::LastError::kSet ? kInjected : kSentinelError, lastError);
  EXPECT_EQ(static_cast<int>(function.effect), static_cast<int>(effect));
  // A release frees one handle, library or memory block, whichever the function holds.
  World expected = Released(before);
  if (function.effect == FailureEffect::kReleasesHandle) --expected.handles;
  EXPECT_TRUE(Released(Snapshot()) == expected) << "the failing call changed something";
  EXPECT_GE(host::CallCount(function), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, FailableFunction, ::testing::ValuesIn(host::kFailableFunctions),
                         [](const ::testing::TestParamInfo<host::FailableFunction>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(GateTable, HasACallOfEachFailableFunctionAndOfNoOther) {
  std::set<std::string> listed;
  for (const host::FailableFunction& function : host::kFailableFunctions) {
    listed.insert(function.name);
  }
  std::set<std::string> called;
  for (const auto& call : FailableInvocations()) called.insert(call.first);
  EXPECT_EQ(listed, called);
  called.clear();
  for (const auto& call : RecordedInvocations()) called.insert(call.first);
  listed.clear();
  for (const host::RecordedFunction& function : host::kRecordedFunctions) {
    listed.insert(function.name);
  }
  EXPECT_EQ(listed, called);
}

// A function that cannot fail goes ahead even when the failure of "the next call" is due.
class RecordedFunction : public GateTable,
                         public ::testing::WithParamInterface<host::RecordedFunction> {};

TEST_P(RecordedFunction, IsRecordedAndGoesAhead) {
  const host::RecordedFunction& function = GetParam();
  auto calls = RecordedInvocations();
  auto call = calls.find(function.name);
  ASSERT_NE(call, calls.end()) << "no call of it in RecordedInvocations";
  host::FailNthCall(1, kInjected);
  SetLastError(kSentinelError);
  EXPECT_TRUE(call->second());
  EXPECT_EQ(kSentinelError, GetLastError());
  ASSERT_FALSE(host::Calls().empty());
  EXPECT_EQ(function.name, host::Calls().front());
  EXPECT_EQ(1u, host::CallCount(function));
}

INSTANTIATE_TEST_SUITE_P(Table, RecordedFunction, ::testing::ValuesIn(host::kRecordedFunctions),
                         [](const ::testing::TestParamInfo<host::RecordedFunction>& info) {
                           return std::string(info.param.name);
                         });

// Every function the stand-in declares passes the gate under its own name: it is in the table
// (the last error's two functions and the program's own WinMain aside). The current
// power-scheme functions are declared for the stand-in alone, as programs reach them through
// GetProcAddress.
TEST_F(GateTable, ListsEveryFunctionTheStandInDeclaresOnce) {
  std::set<std::string> declared;
  const std::regex declaration(R"(WINAPI\s+(\w+)\s*\()");
  for (const char* header : {"include/HostWin32.h", "include/HostWin32Service.h",
                             "include/HostWin32Ui.h", "CurrentPowerExports.h"}) {
    std::ifstream in(std::string(PM_HOST_DIR) + "/" + header);
    ASSERT_TRUE(in) << header;
    std::ostringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    for (std::sregex_iterator it(source.begin(), source.end(), declaration), end; it != end; ++it) {
      declared.insert((*it)[1]);
    }
  }
  for (const char* notGated : {"GetLastError", "SetLastError", "WinMain"}) {
    EXPECT_EQ(1u, declared.erase(notGated)) << notGated;
  }

  std::multiset<std::string> listed;
  for (const host::FailableFunction& function : host::kFailableFunctions) {
    listed.insert(function.name);
  }
  for (const host::RecordedFunction& function : host::kRecordedFunctions) {
    listed.insert(function.name);
  }
  EXPECT_EQ(std::multiset<std::string>(declared.begin(), declared.end()), listed);
}

// The failure of the nth call of any function: once, or from then on for every function that
// can fail.
class NthCallFailure : public GateTable, public ::testing::WithParamInterface<bool> {};

TEST_P(NthCallFailure, FailsOnceOrFromThenOn) {
  const bool persistent = GetParam();
  const LONG failed = static_cast<LONG>(kInjected);
  // Of five flushes after an IsWindow, the 3rd call fails.
  const std::vector<LONG> expected =
      persistent
          ? std::vector<LONG>{ERROR_SUCCESS, failed, failed, failed, failed}
          : std::vector<LONG>{ERROR_SUCCESS, failed, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS};
  host::FailNthCall(3, kInjected, persistent);
  IsWindow(window_);  // counts, though it cannot fail
  std::vector<LONG> answers;
  for (int i = 0; i < 5; ++i) answers.push_back(RegFlushKey(key_));
  EXPECT_EQ(expected, answers);
}

INSTANTIATE_TEST_SUITE_P(Modes, NthCallFailure, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "from_then_on" : "once");
                         });

}  // namespace

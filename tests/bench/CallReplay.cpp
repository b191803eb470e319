#include "CallReplay.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Win32Api.h"

namespace replay {

// Handles and blocks as recorded, and as the replay was given them. A value never recorded
// (a predefined key) stands for itself.
class HandleMap {
 public:
  template <typename T>
  T Get(T recorded) const {
    auto found = map_.find(reinterpret_cast<const void*>(recorded));
    return found == map_.end() ? recorded : reinterpret_cast<T>(const_cast<void*>(found->second));
  }
  template <typename T>
  void Set(T recorded, T replayed) {
    map_[reinterpret_cast<const void*>(recorded)] = reinterpret_cast<const void*>(replayed);
  }

 private:
  std::map<const void*, const void*> map_;
};

namespace {

bool g_recording = false;
std::vector<Call> g_calls;
// How deep this thread is in wrapped functions: only the outermost call is the system's.
thread_local int t_depth = 0;

struct Outermost {
  Outermost() : outermost(t_depth++ == 0) {}
  ~Outermost() { --t_depth; }
  bool Recorded() const { return outermost && g_recording; }
  const bool outermost;
};

// A text argument that may be null.
struct Text {
  explicit Text(const char* text) : null(text == nullptr), value(text ? text : "") {}
  const char* get() const { return null ? nullptr : value.c_str(); }
  bool null;
  std::string value;
};

template <typename T>
std::shared_ptr<T> Copy(const T* value) {
  return value == nullptr ? nullptr : std::make_shared<T>(*value);
}

}  // namespace

void StartRecording() {
  g_calls.clear();
  g_recording = true;
}

std::vector<Call> StopRecording() {
  g_recording = false;
  return std::move(g_calls);
}

void Replay(const std::vector<Call>& calls) {
  HandleMap handles;
  for (const Call& call : calls) call(handles);
}

}  // namespace replay

using replay::Copy;
using replay::g_calls;
using replay::HandleMap;
using replay::Outermost;
using replay::Text;

// Each wrapped function: the stand-in's own (__real_) and the wrapper the linker puts in its
// place (__wrap_), by the symbol of the C++ declaration. CMakeLists.txt takes the list of
// --wrap options from the __wrap_ labels below.
#define PM_WRAP(ret, name, symbol, params)     \
  ret Real##name params asm("__real_" symbol); \
  ret Wrap##name params asm("__wrap_" symbol); \
  ret Wrap##name params

// ---- Registry ---------------------------------------------------------------------------------

PM_WRAP(LONG, RegOpenKeyExA, "_Z13RegOpenKeyExAP6HKEY__PKcjjPS0_",
        (HKEY root, LPCSTR sub, DWORD options, REGSAM sam, PHKEY out)) {
  Outermost call;
  const LONG rc = RealRegOpenKeyExA(root, sub, options, sam, out);
  if (call.Recorded()) {
    g_calls.push_back([root, path = Text(sub), options, sam, opened = out ? *out : nullptr,
                       hasOut = out != nullptr](HandleMap& h) {
      HKEY key = nullptr;
      RegOpenKeyExA(h.Get(root), path.get(), options, sam, hasOut ? &key : nullptr);
      if (opened != nullptr) h.Set(opened, key);
    });
  }
  return rc;
}

PM_WRAP(LONG, RegCreateKeyExA, "_Z15RegCreateKeyExAP6HKEY__PKcjPcjjP20_SECURITY_ATTRIBUTESPS0_Pj",
        (HKEY root, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
         LPSECURITY_ATTRIBUTES security, PHKEY out, LPDWORD disposition)) {
  Outermost call;
  const LONG rc =
      RealRegCreateKeyExA(root, sub, reserved, cls, options, sam, security, out, disposition);
  if (call.Recorded()) {
    g_calls.push_back([root, path = Text(sub), reserved, options, sam,
                       created = out ? *out : nullptr,
                       hasDisposition = disposition != nullptr](HandleMap& h) {
      HKEY key = nullptr;
      DWORD how = 0;
      RegCreateKeyExA(h.Get(root), path.get(), reserved, nullptr, options, sam, nullptr, &key,
                      hasDisposition ? &how : nullptr);
      if (created != nullptr) h.Set(created, key);
    });
  }
  return rc;
}

PM_WRAP(LONG, RegQueryValueExA, "_Z16RegQueryValueExAP6HKEY__PKcPjS3_PhS3_",
        (HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)) {
  Outermost call;
  const DWORD room = size != nullptr ? *size : 0;
  const LONG rc = RealRegQueryValueExA(key, name, reserved, type, data, size);
  if (call.Recorded()) {
    g_calls.push_back([key, value = Text(name), hasType = type != nullptr,
                       hasData = data != nullptr, hasSize = size != nullptr, room](HandleMap& h) {
      DWORD gotType = 0;
      DWORD gotSize = room;
      std::vector<BYTE> buffer(room + 1);
      RegQueryValueExA(h.Get(key), value.get(), nullptr, hasType ? &gotType : nullptr,
                       hasData ? buffer.data() : nullptr, hasSize ? &gotSize : nullptr);
    });
  }
  return rc;
}

PM_WRAP(LONG, RegSetValueExA, "_Z14RegSetValueExAP6HKEY__PKcjjPKhj",
        (HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)) {
  Outermost call;
  const LONG rc = RealRegSetValueExA(key, name, reserved, type, data, size);
  if (call.Recorded()) {
    std::vector<BYTE> bytes(data, data + (data != nullptr ? size : 0));
    g_calls.push_back([key, value = Text(name), reserved, type, bytes, size,
                       hasData = data != nullptr](HandleMap& h) {
      RegSetValueExA(h.Get(key), value.get(), reserved, type, hasData ? bytes.data() : nullptr,
                     size);
    });
  }
  return rc;
}

PM_WRAP(LONG, RegFlushKey, "_Z11RegFlushKeyP6HKEY__", (HKEY key)) {
  Outermost call;
  const LONG rc = RealRegFlushKey(key);
  if (call.Recorded()) g_calls.push_back([key](HandleMap& h) { RegFlushKey(h.Get(key)); });
  return rc;
}

PM_WRAP(LONG, RegCloseKey, "_Z11RegCloseKeyP6HKEY__", (HKEY key)) {
  Outermost call;
  const LONG rc = RealRegCloseKey(key);
  if (call.Recorded()) g_calls.push_back([key](HandleMap& h) { RegCloseKey(h.Get(key)); });
  return rc;
}

// ---- Files, environment, error mode -----------------------------------------------------------

PM_WRAP(UINT, SetErrorMode, "_Z12SetErrorModej", (UINT mode)) {
  Outermost call;
  const UINT previous = RealSetErrorMode(mode);
  if (call.Recorded()) g_calls.push_back([mode](HandleMap&) { SetErrorMode(mode); });
  return previous;
}

PM_WRAP(DWORD, ExpandEnvironmentStringsA, "_Z25ExpandEnvironmentStringsAPKcPcj",
        (LPCSTR source, LPSTR out, DWORD room)) {
  Outermost call;
  const DWORD needed = RealExpandEnvironmentStringsA(source, out, room);
  if (call.Recorded()) {
    g_calls.push_back([text = Text(source), room](HandleMap&) {
      std::vector<char> buffer(room + 1);
      ExpandEnvironmentStringsA(text.get(), buffer.data(), room);
    });
  }
  return needed;
}

PM_WRAP(HANDLE, CreateFileA, "_Z11CreateFileAPKcjjP20_SECURITY_ATTRIBUTESjjPv",
        (LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
         DWORD flags, HANDLE model)) {
  Outermost call;
  const HANDLE file = RealCreateFileA(name, access, share, security, disposition, flags, model);
  if (call.Recorded()) {
    g_calls.push_back([path = Text(name), access, share, disposition, flags, file](HandleMap& h) {
      const HANDLE opened =
          CreateFileA(path.get(), access, share, nullptr, disposition, flags, nullptr);
      if (file != INVALID_HANDLE_VALUE) h.Set(file, opened);
    });
  }
  return file;
}

PM_WRAP(DWORD, GetFileType, "_Z11GetFileTypePv", (HANDLE file)) {
  Outermost call;
  const DWORD type = RealGetFileType(file);
  if (call.Recorded()) g_calls.push_back([file](HandleMap& h) { GetFileType(h.Get(file)); });
  return type;
}

PM_WRAP(BOOL, GetFileInformationByHandle,
        "_Z26GetFileInformationByHandlePvP27_BY_HANDLE_FILE_INFORMATION",
        (HANDLE file, LPBY_HANDLE_FILE_INFORMATION info)) {
  Outermost call;
  const BOOL ok = RealGetFileInformationByHandle(file, info);
  if (call.Recorded()) {
    g_calls.push_back([file](HandleMap& h) {
      BY_HANDLE_FILE_INFORMATION got;
      GetFileInformationByHandle(h.Get(file), &got);
    });
  }
  return ok;
}

PM_WRAP(DWORD, GetFileSize, "_Z11GetFileSizePvPj", (HANDLE file, LPDWORD high)) {
  Outermost call;
  const DWORD size = RealGetFileSize(file, high);
  if (call.Recorded()) {
    g_calls.push_back([file, hasHigh = high != nullptr](HandleMap& h) {
      DWORD got = 0;
      GetFileSize(h.Get(file), hasHigh ? &got : nullptr);
    });
  }
  return size;
}

PM_WRAP(DWORD, SetFilePointer, "_Z14SetFilePointerPviPij",
        (HANDLE file, LONG low, PLONG high, DWORD method)) {
  Outermost call;
  const LONG highIn = high != nullptr ? *high : 0;
  const DWORD at = RealSetFilePointer(file, low, high, method);
  if (call.Recorded()) {
    g_calls.push_back([file, low, hasHigh = high != nullptr, highIn, method](HandleMap& h) {
      LONG moveHigh = highIn;
      SetFilePointer(h.Get(file), low, hasHigh ? &moveHigh : nullptr, method);
    });
  }
  return at;
}

PM_WRAP(BOOL, ReadFile, "_Z8ReadFilePvS_jPjP11_OVERLAPPED",
        (HANDLE file, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED overlapped)) {
  Outermost call;
  const BOOL ok = RealReadFile(file, buffer, count, got, overlapped);
  if (call.Recorded()) {
    g_calls.push_back([file, count](HandleMap& h) {
      std::vector<char> into(count + 1);
      DWORD read = 0;
      ReadFile(h.Get(file), into.data(), count, &read, nullptr);
    });
  }
  return ok;
}

PM_WRAP(BOOL, WriteFile, "_Z9WriteFilePvPKvjPjP11_OVERLAPPED",
        (HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)) {
  Outermost call;
  const BOOL ok = RealWriteFile(file, data, count, written, overlapped);
  if (call.Recorded()) {
    const auto* bytes = static_cast<const char*>(data);
    g_calls.push_back([file, text = std::string(bytes, bytes + count), count](HandleMap& h) {
      DWORD done = 0;
      WriteFile(h.Get(file), text.data(), count, &done, nullptr);
    });
  }
  return ok;
}

PM_WRAP(BOOL, SetEndOfFile, "_Z12SetEndOfFilePv", (HANDLE file)) {
  Outermost call;
  const BOOL ok = RealSetEndOfFile(file);
  if (call.Recorded()) g_calls.push_back([file](HandleMap& h) { SetEndOfFile(h.Get(file)); });
  return ok;
}

PM_WRAP(BOOL, CloseHandle, "_Z11CloseHandlePv", (HANDLE handle)) {
  Outermost call;
  const BOOL ok = RealCloseHandle(handle);
  if (call.Recorded()) g_calls.push_back([handle](HandleMap& h) { CloseHandle(h.Get(handle)); });
  return ok;
}

PM_WRAP(DWORD, GetFullPathNameA, "_Z16GetFullPathNameAPKcjPcPS1_",
        (LPCSTR name, DWORD room, LPSTR out, LPSTR* part)) {
  Outermost call;
  const DWORD answer = RealGetFullPathNameA(name, room, out, part);
  if (call.Recorded()) {
    g_calls.push_back([text = Text(name), room, hasPart = part != nullptr](HandleMap&) {
      std::vector<char> buffer(room + 1);
      LPSTR at = nullptr;
      GetFullPathNameA(text.get(), room, buffer.data(), hasPart ? &at : nullptr);
    });
  }
  return answer;
}

PM_WRAP(DWORD, GetLongPathNameA, "_Z16GetLongPathNameAPKcPcj",
        (LPCSTR name, LPSTR out, DWORD room)) {
  Outermost call;
  const DWORD answer = RealGetLongPathNameA(name, out, room);
  if (call.Recorded()) {
    g_calls.push_back([text = Text(name), room](HandleMap&) {
      std::vector<char> buffer(room + 1);
      GetLongPathNameA(text.get(), buffer.data(), room);
    });
  }
  return answer;
}

PM_WRAP(HLOCAL, LocalFree, "_Z9LocalFreePv", (HLOCAL block)) {
  Outermost call;
  const HLOCAL left = RealLocalFree(block);
  if (call.Recorded()) g_calls.push_back([block](HandleMap& h) { LocalFree(h.Get(block)); });
  return left;
}

// ---- Display settings, debug output -----------------------------------------------------------

PM_WRAP(BOOL, SystemParametersInfoA, "_Z21SystemParametersInfoAjjPvj",
        (UINT action, UINT param, PVOID value, UINT update)) {
  Outermost call;
  const BOOL ok = RealSystemParametersInfoA(action, param, value, update);
  if (call.Recorded()) {
    g_calls.push_back([action, param, hasValue = value != nullptr, update](HandleMap&) {
      BYTE scratch[64] = {};
      SystemParametersInfoA(action, param, hasValue ? scratch : nullptr, update);
    });
  }
  return ok;
}

PM_WRAP(void, OutputDebugStringA, "_Z18OutputDebugStringAPKc", (LPCSTR text)) {
  Outermost call;
  RealOutputDebugStringA(text);
  if (call.Recorded()) {
    g_calls.push_back([copy = Text(text)](HandleMap&) { OutputDebugStringA(copy.get()); });
  }
}

// ---- Event log, the user's name ----------------------------------------------------------------

PM_WRAP(BOOL, GetUserNameA, "_Z12GetUserNameAPcPj", (LPSTR name, LPDWORD size)) {
  Outermost call;
  const DWORD room = size != nullptr ? *size : 0;
  const BOOL ok = RealGetUserNameA(name, size);
  if (call.Recorded()) {
    g_calls.push_back([room, hasName = name != nullptr, hasSize = size != nullptr](HandleMap&) {
      std::vector<char> buffer(room + 1);
      DWORD got = room;
      GetUserNameA(hasName ? buffer.data() : nullptr, hasSize ? &got : nullptr);
    });
  }
  return ok;
}

PM_WRAP(HANDLE, RegisterEventSourceA, "_Z20RegisterEventSourceAPKcS0_",
        (LPCSTR server, LPCSTR source)) {
  Outermost call;
  const HANDLE registered = RealRegisterEventSourceA(server, source);
  if (call.Recorded()) {
    g_calls.push_back([host = Text(server), name = Text(source), registered](HandleMap& h) {
      const HANDLE replayed = RegisterEventSourceA(host.get(), name.get());
      if (registered != nullptr) h.Set(registered, replayed);
    });
  }
  return registered;
}

PM_WRAP(BOOL, ReportEventA, "_Z12ReportEventAPvttjS_tjPPKcS_",
        (HANDLE log, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD size,
         LPCSTR* strings, LPVOID data)) {
  Outermost call;
  const BOOL ok = RealReportEventA(log, type, category, id, user, count, size, strings, data);
  if (call.Recorded()) {
    std::vector<std::string> texts;
    for (WORD i = 0; strings != nullptr && i < count; ++i) texts.emplace_back(strings[i]);
    g_calls.push_back(
        [log, type, category, id, texts, hasStrings = strings != nullptr](HandleMap& h) {
          std::vector<LPCSTR> pointers;
          for (const std::string& text : texts) pointers.push_back(text.c_str());
          ReportEventA(h.Get(log), type, category, id, nullptr, static_cast<WORD>(pointers.size()),
                       0, hasStrings ? pointers.data() : nullptr, nullptr);
        });
  }
  return ok;
}

PM_WRAP(BOOL, DeregisterEventSource, "_Z21DeregisterEventSourcePv", (HANDLE log)) {
  Outermost call;
  const BOOL ok = RealDeregisterEventSource(log);
  if (call.Recorded()) {
    g_calls.push_back([log](HandleMap& h) { DeregisterEventSource(h.Get(log)); });
  }
  return ok;
}

// ---- Legacy power profile ---------------------------------------------------------------------

PM_WRAP(BOOLEAN, GetPwrCapabilities, "_Z18GetPwrCapabilitiesP25SYSTEM_POWER_CAPABILITIES",
        (PSYSTEM_POWER_CAPABILITIES caps)) {
  Outermost call;
  const BOOLEAN ok = RealGetPwrCapabilities(caps);
  if (call.Recorded()) {
    g_calls.push_back([](HandleMap&) {
      SYSTEM_POWER_CAPABILITIES got;
      GetPwrCapabilities(&got);
    });
  }
  return ok;
}

PM_WRAP(BOOLEAN, GetActivePwrScheme, "_Z18GetActivePwrSchemePj", (PUINT id)) {
  Outermost call;
  const BOOLEAN ok = RealGetActivePwrScheme(id);
  if (call.Recorded()) {
    g_calls.push_back([](HandleMap&) {
      UINT got = 0;
      GetActivePwrScheme(&got);
    });
  }
  return ok;
}

PM_WRAP(BOOLEAN, IsPwrHibernateAllowed, "_Z21IsPwrHibernateAllowedv", ()) {
  Outermost call;
  const BOOLEAN ok = RealIsPwrHibernateAllowed();
  if (call.Recorded()) g_calls.push_back([](HandleMap&) { IsPwrHibernateAllowed(); });
  return ok;
}

PM_WRAP(BOOLEAN, CanUserWritePwrScheme, "_Z21CanUserWritePwrSchemev", ()) {
  Outermost call;
  const BOOLEAN ok = RealCanUserWritePwrScheme();
  if (call.Recorded()) g_calls.push_back([](HandleMap&) { CanUserWritePwrScheme(); });
  return ok;
}

PM_WRAP(BOOLEAN, ReadPwrScheme, "_Z13ReadPwrSchemejP13_POWER_POLICY",
        (UINT id, PPOWER_POLICY policy)) {
  Outermost call;
  const BOOLEAN ok = RealReadPwrScheme(id, policy);
  if (call.Recorded()) {
    g_calls.push_back([id](HandleMap&) {
      POWER_POLICY got;
      ReadPwrScheme(id, &got);
    });
  }
  return ok;
}

namespace {

// A wide text argument that may be null.
struct WideText {
  explicit WideText(const WCHAR* text) : null(text == nullptr), value(text ? text : L"") {}
  WCHAR* get() { return null ? nullptr : value.data(); }
  bool null;
  std::wstring value;
};

}  // namespace

PM_WRAP(BOOLEAN, WritePwrScheme, "_Z14WritePwrSchemePjPwS0_P13_POWER_POLICY",
        (PUINT id, LPWSTR name, LPWSTR description, PPOWER_POLICY policy)) {
  Outermost call;
  const UINT idIn = id != nullptr ? *id : 0;
  const BOOLEAN ok = RealWritePwrScheme(id, name, description, policy);
  if (call.Recorded()) {
    g_calls.push_back([idIn, record = Copy(policy), nameText = WideText(name),
                       descriptionText = WideText(description)](HandleMap&) mutable {
      UINT index = idIn;
      POWER_POLICY written = *record;
      WritePwrScheme(&index, nameText.get(), descriptionText.get(), &written);
    });
  }
  return ok;
}

namespace {

// The system's callback, called through the recorder's, which notes where it stopped.
struct Forwarded {
  PWRSCHEMESENUMPROC callback;
  LPARAM value;
  bool stopped;
  UINT stoppedAt;
};

BOOLEAN CALLBACK Forward(UINT index, DWORD nameBytes, LPWSTR name, DWORD descriptionBytes,
                         LPWSTR description, PPOWER_POLICY policy, LPARAM context) {
  auto* forwarded = reinterpret_cast<Forwarded*>(context);
  const BOOLEAN goOn = forwarded->callback(index, nameBytes, name, descriptionBytes, description,
                                           policy, forwarded->value);
  if (!goOn) {
    forwarded->stopped = true;
    forwarded->stoppedAt = index;
  }
  return goOn;
}

// The replay stops where the system's callback stopped.
struct StopAt {
  bool stops;
  UINT index;
};

BOOLEAN CALLBACK StopWhereRecorded(UINT index, DWORD, LPWSTR, DWORD, LPWSTR, PPOWER_POLICY,
                                   LPARAM context) {
  const auto* stop = reinterpret_cast<const StopAt*>(context);
  return !(stop->stops && index == stop->index);
}

}  // namespace

PM_WRAP(BOOLEAN, EnumPwrSchemes, "_Z14EnumPwrSchemesPFhjjPwjS_P13_POWER_POLICYlEl",
        (PWRSCHEMESENUMPROC callback, LPARAM value)) {
  Outermost call;
  if (!call.Recorded() || callback == nullptr) return RealEnumPwrSchemes(callback, value);
  Forwarded forwarded{callback, value, false, 0};
  const BOOLEAN ok = RealEnumPwrSchemes(&Forward, reinterpret_cast<LPARAM>(&forwarded));
  g_calls.push_back([stop = StopAt{forwarded.stopped, forwarded.stoppedAt}](HandleMap&) {
    EnumPwrSchemes(&StopWhereRecorded, reinterpret_cast<LPARAM>(&stop));
  });
  return ok;
}

PM_WRAP(BOOLEAN, SetActivePwrScheme,
        "_Z18SetActivePwrSchemejP20_GLOBAL_POWER_POLICYP13_POWER_POLICY",
        (UINT id, PGLOBAL_POWER_POLICY global, PPOWER_POLICY policy)) {
  Outermost call;
  const BOOLEAN ok = RealSetActivePwrScheme(id, global, policy);
  if (call.Recorded()) {
    g_calls.push_back([id, record = Copy(policy)](HandleMap&) {
      POWER_POLICY given = record ? *record : POWER_POLICY();
      SetActivePwrScheme(id, nullptr, record ? &given : nullptr);
    });
  }
  return ok;
}

// ---- Current power functions, reached through GetProcAddress -----------------------------------

namespace {

struct CurrentFunctions {
  DWORD(WINAPI* getActive)(HKEY, GUID**) = nullptr;
  DWORD(WINAPI* readAc)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD) = nullptr;
  DWORD(WINAPI* readDc)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD) = nullptr;
  DWORD(WINAPI* writeAc)(HKEY, const GUID*, const GUID*, const GUID*, DWORD) = nullptr;
  DWORD(WINAPI* writeDc)(HKEY, const GUID*, const GUID*, const GUID*, DWORD) = nullptr;
  DWORD(WINAPI* setActive)(HKEY, const GUID*) = nullptr;
  DWORD(WINAPI* accessCheck)(POWER_DATA_ACCESSOR, const GUID*) = nullptr;
} g_real;

DWORD WINAPI RecordGetActive(HKEY root, GUID** active) {
  Outermost call;
  const DWORD rc = g_real.getActive(root, active);
  if (call.Recorded()) {
    g_calls.push_back([root, block = active ? *active : nullptr](HandleMap& h) {
      GUID* got = nullptr;
      RecordGetActive(root, &got);
      if (block != nullptr) h.Set(block, got);
    });
  }
  return rc;
}

DWORD WINAPI RecordRead(bool ac, HKEY root, const GUID* scheme, const GUID* subgroup,
                        const GUID* setting, LPDWORD value) {
  Outermost call;
  const DWORD rc = (ac ? g_real.readAc : g_real.readDc)(root, scheme, subgroup, setting, value);
  if (call.Recorded()) {
    g_calls.push_back(
        [ac, root, s = Copy(scheme), g = Copy(subgroup), t = Copy(setting)](HandleMap&) {
          DWORD got = 0;
          RecordRead(ac, root, s.get(), g.get(), t.get(), &got);
        });
  }
  return rc;
}
DWORD WINAPI RecordReadAc(HKEY r, const GUID* s, const GUID* g, const GUID* t, LPDWORD v) {
  return RecordRead(true, r, s, g, t, v);
}
DWORD WINAPI RecordReadDc(HKEY r, const GUID* s, const GUID* g, const GUID* t, LPDWORD v) {
  return RecordRead(false, r, s, g, t, v);
}

DWORD WINAPI RecordWrite(bool ac, HKEY root, const GUID* scheme, const GUID* subgroup,
                         const GUID* setting, DWORD value) {
  Outermost call;
  const DWORD rc = (ac ? g_real.writeAc : g_real.writeDc)(root, scheme, subgroup, setting, value);
  if (call.Recorded()) {
    g_calls.push_back([ac, root, s = Copy(scheme), g = Copy(subgroup), t = Copy(setting), value](
                          HandleMap&) { RecordWrite(ac, root, s.get(), g.get(), t.get(), value); });
  }
  return rc;
}
DWORD WINAPI RecordWriteAc(HKEY r, const GUID* s, const GUID* g, const GUID* t, DWORD v) {
  return RecordWrite(true, r, s, g, t, v);
}
DWORD WINAPI RecordWriteDc(HKEY r, const GUID* s, const GUID* g, const GUID* t, DWORD v) {
  return RecordWrite(false, r, s, g, t, v);
}

DWORD WINAPI RecordSetActive(HKEY root, const GUID* scheme) {
  Outermost call;
  const DWORD rc = g_real.setActive(root, scheme);
  if (call.Recorded()) {
    g_calls.push_back([root, s = Copy(scheme)](HandleMap&) { RecordSetActive(root, s.get()); });
  }
  return rc;
}

DWORD WINAPI RecordAccessCheck(POWER_DATA_ACCESSOR access, const GUID* guid) {
  Outermost call;
  const DWORD rc = g_real.accessCheck(access, guid);
  if (call.Recorded()) {
    g_calls.push_back([access, g = Copy(guid)](HandleMap&) { RecordAccessCheck(access, g.get()); });
  }
  return rc;
}

template <typename F>
FARPROC Hand(F* real, F recorder, FARPROC found) {
  *real = reinterpret_cast<F>(reinterpret_cast<void*>(found));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(recorder));
}

// kernel32.dll's functions that the log looks up.
DWORD(WINAPI* g_realFinalPath)(HANDLE, LPSTR, DWORD, DWORD) = nullptr;
BOOL(WINAPI* g_realSetInformation)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) = nullptr;

DWORD WINAPI RecordFinalPath(HANDLE file, LPSTR out, DWORD room, DWORD flags) {
  Outermost call;
  const DWORD answer = g_realFinalPath(file, out, room, flags);
  if (call.Recorded()) {
    g_calls.push_back([file, room, flags](HandleMap& h) {
      std::vector<char> buffer(room + 1);
      RecordFinalPath(h.Get(file), buffer.data(), room, flags);
    });
  }
  return answer;
}

BOOL WINAPI RecordSetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                 DWORD size) {
  Outermost call;
  const BOOL ok = g_realSetInformation(file, kind, info, size);
  if (call.Recorded()) {
    std::string bytes(static_cast<const char*>(info), info != nullptr ? size : 0);
    g_calls.push_back([file, kind, bytes](HandleMap& h) {
      std::string copy = bytes;
      RecordSetInformation(h.Get(file), kind, copy.empty() ? nullptr : &copy[0],
                           static_cast<DWORD>(copy.size()));
    });
  }
  return ok;
}

// Through the one function type that converts to every other without a warning.
template <typename F>
FARPROC HandAny(F* real, F recorder, FARPROC found) {
  *real = reinterpret_cast<F>(reinterpret_cast<void (*)()>(found));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(recorder));
}

}  // namespace

PM_WRAP(HMODULE, LoadLibraryA, "_Z12LoadLibraryAPKc", (LPCSTR name)) {
  Outermost call;
  const HMODULE module = RealLoadLibraryA(name);
  if (call.Recorded()) {
    g_calls.push_back([text = Text(name), module](HandleMap& h) {
      const HMODULE loaded = LoadLibraryA(text.get());
      if (module != nullptr) h.Set(module, loaded);
    });
  }
  return module;
}

PM_WRAP(BOOL, FreeLibrary, "_Z11FreeLibraryP11HINSTANCE__", (HMODULE module)) {
  Outermost call;
  const BOOL ok = RealFreeLibrary(module);
  if (call.Recorded()) g_calls.push_back([module](HandleMap& h) { FreeLibrary(h.Get(module)); });
  return ok;
}

PM_WRAP(FARPROC, GetProcAddress, "_Z14GetProcAddressP11HINSTANCE__PKc",
        (HMODULE module, LPCSTR name)) {
  Outermost call;
  const FARPROC found = RealGetProcAddress(module, name);
  if (call.Recorded()) {
    g_calls.push_back(
        [module, text = Text(name)](HandleMap& h) { GetProcAddress(h.Get(module), text.get()); });
  }
  if (found == nullptr || name == nullptr) return found;
  const std::string wanted = name;
  if (wanted == "GetFinalPathNameByHandleA") {
    return HandAny(&g_realFinalPath, &RecordFinalPath, found);
  }
  if (wanted == "SetFileInformationByHandle") {
    return HandAny(&g_realSetInformation, &RecordSetInformation, found);
  }
  if (wanted == "PowerGetActiveScheme") return Hand(&g_real.getActive, &RecordGetActive, found);
  if (wanted == "PowerReadACValueIndex") return Hand(&g_real.readAc, &RecordReadAc, found);
  if (wanted == "PowerReadDCValueIndex") return Hand(&g_real.readDc, &RecordReadDc, found);
  if (wanted == "PowerWriteACValueIndex") return Hand(&g_real.writeAc, &RecordWriteAc, found);
  if (wanted == "PowerWriteDCValueIndex") return Hand(&g_real.writeDc, &RecordWriteDc, found);
  if (wanted == "PowerSetActiveScheme") return Hand(&g_real.setActive, &RecordSetActive, found);
  if (wanted == "PowerSettingAccessCheck") {
    return Hand(&g_real.accessCheck, &RecordAccessCheck, found);
  }
  return found;
}

// The test control surface: reset, direct registry access, .reg text, the limited user and
// the power capabilities knob.
#include "HostControl.h"

#include <atomic>
#include <fstream>
#include <sstream>

#include "../powrprof/PowerProfile.h"
#include "HostInternal.h"
#include "RegistryStore.h"

namespace host::detail {

uintptr_t NextHandleValue() {
  // Multiples of four, as Windows hands them out, far from the predefined keys.
  static std::atomic<uintptr_t> next{0x1000};
  return next.fetch_add(4);
}

}  // namespace host::detail

namespace host {
namespace {

using detail::Hive;

bool ToHive(HKEY root, Hive* hive) {
  if (root == HKEY_LOCAL_MACHINE) {
    *hive = Hive::kLocalMachine;
    return true;
  }
  if (root == HKEY_CURRENT_USER) {
    *hive = Hive::kCurrentUser;
    return true;
  }
  return false;
}

}  // namespace

void Reset() {
  detail::ResetRegistryFile();
  detail::RawRegistry().Reset();
  detail::ResetCallGate();
  detail::ResetDebugOutput();
  detail::ResetFiles();
  detail::ResetSystemParameters();
  detail::ResetServiceDispatcher();
  detail::ResetServices();
  detail::ResetWaits();
  detail::ResetSystemDirectory();
  detail::ResetModules();
  detail::ResetEventLog();
  SetLastError(ERROR_SUCCESS);
}

bool ImportRegText(const std::string& text, std::string* error) {
  std::vector<detail::RegTextOp> ops;
  if (!detail::ParseRegText(text, &ops, error)) return false;
  detail::Registry().Apply(ops);
  return true;
}

bool ImportRegFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ImportRegText(text.str(), error);
}

std::string ExportRegText(HKEY root, const std::string& path) {
  Hive hive;
  std::string text;
  if (!ToHive(root, &hive) || !detail::Registry().Export(hive, path, &text)) return "";
  return text;
}

std::string ExportRegText() { return detail::Registry().ExportAll(); }

bool ExportRegFile(const std::string& path) {
  std::string text = ExportRegText();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

bool KeyExists(HKEY root, const std::string& path) {
  Hive hive;
  return ToHive(root, &hive) && detail::Registry().KeyExists(hive, path);
}

bool ReadValue(HKEY root, const std::string& path, const std::string& name, RegValue* out) {
  Hive hive;
  if (!ToHive(root, &hive)) return false;
  RegValue value;
  if (!detail::Registry().ReadValue(hive, path, name, &value.type, &value.data)) return false;
  if (out != nullptr) *out = value;
  return true;
}

void WriteValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                const std::vector<uint8_t>& data) {
  Hive hive;
  if (ToHive(root, &hive)) detail::Registry().WriteValue(hive, path, name, type, data);
}

void WriteDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
  WriteValue(root, path, name, REG_DWORD,
             {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

void WriteString(HKEY root, const std::string& path, const std::string& name,
                 const std::string& text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  WriteValue(root, path, name, REG_SZ, data);
}

void DeleteKeyTree(HKEY root, const std::string& path) {
  Hive hive;
  if (ToHive(root, &hive)) detail::Registry().DeleteKeyTree(hive, path);
}

bool DenyReading(HKEY root, const std::string& path, bool deny) {
  Hive hive;
  return ToHive(root, &hive) && detail::Registry().DenyReading(hive, path, deny);
}

size_t OpenKeyCount() { return detail::Registry().OpenKeyCount(); }

size_t OpenHandleCount() {
  return OpenKeyCount() + detail::OpenFileCount() + detail::OpenEventCount() +
         detail::OpenServiceHandleCount() + detail::OpenEventSourceCount();
}

void SetLimitedUser(bool limited) { detail::Registry().SetLimitedUser(limited); }

SYSTEM_POWER_CAPABILITIES DefaultCapabilities() { return powerprofile::DefaultCapabilities(); }

SYSTEM_POWER_CAPABILITIES ModernStandbyCapabilities() {
  return powerprofile::ModernStandbyCapabilities();
}

void SetCapabilities(const SYSTEM_POWER_CAPABILITIES& caps) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&caps);
  WriteValue(HKEY_LOCAL_MACHINE, powerprofile::kMachinePowerCfgKey,
             powerprofile::kCapabilitiesValue, REG_BINARY,
             std::vector<uint8_t>(bytes, bytes + sizeof caps));
}

}  // namespace host

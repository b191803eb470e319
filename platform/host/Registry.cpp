// The host registry and the Reg*A functions over it, with the Windows semantics the system
// relies on: handles remember the rights they were opened with, names compare without
// regard to case, a too-small buffer gets nothing but the size it needs.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "CallGate.h"
#include "HostInternal.h"
#include "RegistryStore.h"

namespace host::detail {
namespace {

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericRead = static_cast<REGSAM>(GENERIC_READ);
constexpr REGSAM kGenericWrite = static_cast<REGSAM>(GENERIC_WRITE);
constexpr REGSAM kGenericExecute = static_cast<REGSAM>(GENERIC_EXECUTE);
constexpr REGSAM kGenericAll = static_cast<REGSAM>(GENERIC_ALL);
// What a limited user may not ask for under HKEY_LOCAL_MACHINE.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;
// What a key that denies this account reading refuses (KEY_READ asks for all three).
constexpr REGSAM kReadRights = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The specific rights a request amounts to. MAXIMUM_ALLOWED grants what the user may have.
REGSAM SpecificRights(REGSAM sam, bool limitedMachine) {
  REGSAM out = sam & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll |
                       kMaximumAllowed | KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if (sam & kGenericRead) out |= KEY_READ;
  if (sam & kGenericWrite) out |= KEY_WRITE;
  if (sam & kGenericExecute) out |= KEY_EXECUTE;
  if (sam & kGenericAll) out |= KEY_ALL_ACCESS;
  if (sam & kMaximumAllowed) out |= limitedMachine ? KEY_READ : KEY_ALL_ACCESS;
  return out;
}

// Splits a key path at its backslashes. Empty elements (a trailing or doubled backslash)
// are skipped, as Windows does; a leading backslash is refused by the callers.
std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsPredefined(HKEY key) {
  return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT ||
         key == HKEY_USERS;
}

// Trees are walked with a list of the keys still to visit, never by recursion, so that no
// tree is too deep for the stack.
void MarkDeleted(KeyNode* key) {
  std::vector<KeyNode*> pending{key};
  while (!pending.empty()) {
    KeyNode* next = pending.back();
    pending.pop_back();
    next->deleted = true;
    for (auto& child : next->children) pending.push_back(child.second.get());
  }
}

// The key's path below its hive's root.
std::string PathOf(const KeyNode& key) {
  std::vector<const KeyNode*> chain;
  for (const KeyNode* k = &key; k->parent != nullptr; k = k->parent) chain.push_back(k);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '\\';
    path += (*it)->name;
  }
  return path;
}

std::string FullName(const KeyNode& key) {
  std::string path = PathOf(key);
  return path.empty() ? HiveName(key.hive) : HiveName(key.hive) + ("\\" + path);
}

// Makes `mine` hold what `fresh` holds, keeping the nodes of the keys both have: handles
// open on them stay usable. Keys only `mine` has are deleted.
void Adopt(KeyNode* mine, const std::shared_ptr<KeyNode>& fresh) {
  // Each pair is one key of both trees; the fresh node is held here once its parent lets go.
  std::vector<std::pair<KeyNode*, std::shared_ptr<KeyNode>>> pending{{mine, fresh}};
  while (!pending.empty()) {
    KeyNode* own = pending.back().first;
    std::shared_ptr<KeyNode> theirs = std::move(pending.back().second);
    pending.pop_back();
    own->values = std::move(theirs->values);
    for (auto it = own->children.begin(); it != own->children.end();) {
      auto match = theirs->children.find(it->first);
      if (match == theirs->children.end()) {
        MarkDeleted(it->second.get());
        it->second->parent = nullptr;
        it = own->children.erase(it);
      } else {
        pending.emplace_back(it->second.get(), std::move(match->second));
        theirs->children.erase(match);
        ++it;
      }
    }
    for (auto& child : theirs->children) {
      child.second->parent = own;
      own->children.insert(child);
    }
  }
}

}  // namespace

const char* HiveName(Hive hive) {
  return hive == Hive::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string FoldCase(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

ValueNode* ValueList::Find(const std::string& name) {
  auto it = byName_.find(FoldCase(name));
  return it == byName_.end() ? nullptr : &*it->second;
}

ValueNode* ValueList::Set(const std::string& name, DWORD type, std::vector<uint8_t> data) {
  auto [it, added] = byName_.try_emplace(FoldCase(name));
  if (added) it->second = order_.insert(order_.end(), ValueNode{name, REG_NONE, {}});
  it->second->type = type;
  it->second->data = std::move(data);
  return &*it->second;
}

bool ValueList::Erase(const std::string& name) {
  auto it = byName_.find(FoldCase(name));
  if (it == byName_.end()) return false;
  order_.erase(it->second);
  byName_.erase(it);
  return true;
}

void ValueList::Clear() {
  byName_.clear();
  order_.clear();
}

size_t KeyNode::Depth() const {
  size_t depth = 0;
  for (const KeyNode* key = this; key->parent != nullptr; key = key->parent) ++depth;
  return depth;
}

std::shared_ptr<KeyNode> KeyNode::FindChild(const std::string& name) const {
  auto it = children.find(FoldCase(name));
  return it == children.end() ? nullptr : it->second;
}

std::vector<const KeyNode*> KeyNode::SortedChildren() const {
  std::vector<const KeyNode*> sorted;
  for (const auto& child : children) sorted.push_back(child.second.get());  // map order
  return sorted;
}

std::shared_ptr<KeyNode> RegistryStore::NewRoot(Hive hive) {
  auto root = std::make_shared<KeyNode>();
  root->hive = hive;
  return root;
}

std::shared_ptr<KeyNode>& RegistryStore::Root(Hive hive) {
  return hive == Hive::kLocalMachine ? machine_ : user_;
}

LONG RegistryStore::Resolve(HKEY handle, std::shared_ptr<KeyNode>* key, REGSAM* access) {
  if (handle == HKEY_LOCAL_MACHINE) {
    *key = machine_;
    *access = limited_ ? KEY_READ : KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  if (handle == HKEY_CURRENT_USER) {
    *key = user_;
    *access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  // HKEY_CLASSES_ROOT and HKEY_USERS are not provided: the system never uses them.
  auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  if (it->second.key->deleted) return ERROR_KEY_DELETED;
  *key = it->second.key;
  *access = it->second.access;
  return ERROR_SUCCESS;
}

std::shared_ptr<KeyNode> RegistryStore::Walk(Hive hive, const std::string& path, bool create) {
  std::shared_ptr<KeyNode> key = Root(hive);
  std::vector<std::string> parts = SplitPath(path);
  if (parts.size() > kMaxKeyDepth) return nullptr;  // cannot exist, and is not made
  for (const std::string& part : parts) {
    std::shared_ptr<KeyNode> child = key->FindChild(part);
    if (!child) {
      if (!create) return nullptr;
      child = std::make_shared<KeyNode>();
      child->name = part;
      child->parent = key.get();
      child->hive = hive;
      key->children[FoldCase(part)] = child;
    }
    key = child;
  }
  return key;
}

void RegistryStore::Unlink(const std::shared_ptr<KeyNode>& key) {
  MarkDeleted(key.get());
  if (key->parent != nullptr) key->parent->children.erase(FoldCase(key->name));
  key->parent = nullptr;
}

LONG RegistryStore::OpenKey(HKEY parent, const char* subkey, REGSAM sam, bool create, HKEY* result,
                            DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (!create) *result = nullptr;  // what Windows leaves behind a failed open
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key;
  REGSAM parentAccess = 0;
  if (LONG rc = Resolve(parent, &key, &parentAccess)) return rc;
  std::string path = subkey != nullptr ? subkey : "";
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  std::vector<std::string> parts = SplitPath(path);

  const bool limitedMachine = limited_ && key->hive == Hive::kLocalMachine;
  const REGSAM rights = SpecificRights(sam, limitedMachine);
  const bool denied = limitedMachine && (rights & kWriteRights) != 0;

  std::shared_ptr<KeyNode> target = key;
  size_t found = 0;
  for (; found < parts.size(); ++found) {
    std::shared_ptr<KeyNode> child = target->FindChild(parts[found]);
    if (!child) break;
    target = child;
  }
  const bool missing = found < parts.size();
  // A key may deny reading whoever asks; only the key opened is checked, not those on its way.
  const bool unreadable = !missing && target->unreadable && (rights & kReadRights) != 0;
  if (!create) {
    if (missing) return ERROR_FILE_NOT_FOUND;
    if (denied || unreadable) return ERROR_ACCESS_DENIED;
    // Windows hands back the predefined handle itself for an empty path below it.
    if (parts.empty() && IsPredefined(parent)) {
      *result = parent;
      return ERROR_SUCCESS;
    }
  } else {
    // Creating a key below HKEY_LOCAL_MACHINE is itself a write.
    if (denied || unreadable || (limitedMachine && missing)) return ERROR_ACCESS_DENIED;
    // Windows refuses to nest keys deeper; the registry file could not hold them either.
    if (missing && key->Depth() + parts.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    for (size_t i = found; i < parts.size(); ++i) {
      auto child = std::make_shared<KeyNode>();
      child->name = parts[i];
      child->parent = target.get();
      child->hive = target->hive;
      target->children[FoldCase(parts[i])] = child;
      target = child;
    }
    if (missing) Journal(RegTextOp::kCreateKey, *target, nullptr);
    if (disposition != nullptr) {
      *disposition = missing ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
  }
  uintptr_t value = NextHandleValue();
  handles_[value] = OpenHandle{target, rights};
  *result = reinterpret_cast<HKEY>(value);
  return ERROR_SUCCESS;
}

LONG RegistryStore::QueryValue(HKEY handle, const char* name, DWORD* type, BYTE* data,
                               DWORD* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key;
  REGSAM access = 0;
  if (LONG rc = Resolve(handle, &key, &access)) return rc;
  if ((access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  ValueNode* value = key->values.Find(name != nullptr ? name : "");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  const auto needed = static_cast<DWORD>(value->data.size());
  if (type != nullptr) *type = value->type;
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed > 0) std::memcpy(data, value->data.data(), needed);
    // A string stored without its terminating zero gets one when there is room, uncounted.
    if (IsStringType(value->type) && needed > 0 && *size > needed && value->data.back() != 0) {
      data[needed] = 0;
    }
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

LONG RegistryStore::SetValue(HKEY handle, const char* name, DWORD type, const BYTE* data,
                             DWORD size) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key;
  REGSAM access = 0;
  if (LONG rc = Resolve(handle, &key, &access)) return rc;
  if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size > 0) return ERROR_NOACCESS;
  // Windows also counts a zero that directly follows the given bytes of a string; the
  // stand-in never reads past the count it was given, so it stores exactly `size` bytes.
  std::vector<uint8_t> bytes(data, data + (data != nullptr ? size : 0));
  ValueNode* value = key->values.Set(name != nullptr ? name : "", type, std::move(bytes));
  Journal(RegTextOp::kSetValue, *key, value);
  return ERROR_SUCCESS;
}

LONG RegistryStore::DeleteValue(HKEY handle, const char* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key;
  REGSAM access = 0;
  if (LONG rc = Resolve(handle, &key, &access)) return rc;
  if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  ValueNode* value = key->values.Find(name != nullptr ? name : "");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  Journal(RegTextOp::kDeleteValue, *key, value);
  key->values.Erase(value->name);
  return ERROR_SUCCESS;
}

LONG RegistryStore::DeleteKey(HKEY handle, const char* subkey) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key;
  REGSAM access = 0;
  if (LONG rc = Resolve(handle, &key, &access)) return rc;
  std::string path = subkey != nullptr ? subkey : "";
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  for (const std::string& part : SplitPath(path)) {
    key = key->FindChild(part);
    if (!key) return ERROR_FILE_NOT_FOUND;
  }
  // A hive's root cannot go, nor can a key that still has subkeys.
  if (key->parent == nullptr) return ERROR_ACCESS_DENIED;
  if (limited_ && key->hive == Hive::kLocalMachine) return ERROR_ACCESS_DENIED;
  if (!key->children.empty()) return ERROR_ACCESS_DENIED;
  Journal(RegTextOp::kDeleteKey, *key, nullptr);
  Unlink(key);
  return ERROR_SUCCESS;
}

LONG RegistryStore::EnumKey(HKEY handle, DWORD index, char* name, DWORD* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key;
  REGSAM access = 0;
  if (LONG rc = Resolve(handle, &key, &access)) return rc;
  if ((access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  if (name == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
  if (index >= key->children.size()) return ERROR_NO_MORE_ITEMS;
  auto it = key->children.begin();
  std::advance(it, index);
  const std::string& found = it->second->name;
  // The size counts the terminating zero on the way in and leaves it out on the way out; a
  // buffer too small gets nothing.
  if (found.size() + 1 > *size) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *size = static_cast<DWORD>(found.size());
  return ERROR_SUCCESS;
}

LONG RegistryStore::CheckHandle(HKEY handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key;
  REGSAM access = 0;
  return Resolve(handle, &key, &access);
}

LONG RegistryStore::CloseKey(HKEY handle) {
  if (IsPredefined(handle)) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.erase(reinterpret_cast<uintptr_t>(handle)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

bool RegistryStore::KeyExists(Hive hive, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Walk(hive, path, false) != nullptr;
}

bool RegistryStore::ReadValue(Hive hive, const std::string& path, const std::string& name,
                              DWORD* type, std::vector<uint8_t>* data) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key = Walk(hive, path, false);
  ValueNode* value = key ? key->values.Find(name) : nullptr;
  if (value == nullptr) return false;
  if (type != nullptr) *type = value->type;
  if (data != nullptr) *data = value->data;
  return true;
}

void RegistryStore::WriteValue(Hive hive, const std::string& path, const std::string& name,
                               DWORD type, const std::vector<uint8_t>& data) {
  std::lock_guard<std::mutex> lock(mutex_);
  RegTextOp op;
  op.kind = RegTextOp::kSetValue;
  op.hive = hive;
  op.path = path;
  op.name = name;
  op.type = type;
  op.data = data;
  ApplyLocked({op});
}

void RegistryStore::DeleteKeyTree(Hive hive, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  RegTextOp op;
  op.kind = RegTextOp::kDeleteKey;
  op.hive = hive;
  op.path = path;
  ApplyLocked({op});
}

bool RegistryStore::DenyReading(Hive hive, const std::string& path, bool deny) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key = Walk(hive, path, false);
  if (!key || key->parent == nullptr) return false;
  key->unreadable = deny;
  return true;
}

size_t RegistryStore::OpenKeyCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.size();
}

void RegistryStore::SetLimitedUser(bool limited) {
  std::lock_guard<std::mutex> lock(mutex_);
  limited_ = limited;
}

bool RegistryStore::LimitedUser() {
  std::lock_guard<std::mutex> lock(mutex_);
  return limited_;
}

bool RegistryStore::Export(Hive hive, const std::string& path, std::string* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> key = Walk(hive, path, false);
  if (!key) return false;
  *text = RegTextHeader();
  FormatRegTree(*key, FullName(*key), text);
  return true;
}

std::string RegistryStore::ExportAll() {
  size_t changes = 0;
  return ExportForSave(&changes);
}

void RegistryStore::Journal(RegTextOp::Kind kind, const KeyNode& key, const ValueNode* value) {
  if (!journaling_) return;
  RegTextOp op;
  op.kind = kind;
  op.hive = key.hive;
  op.path = PathOf(key);
  if (value != nullptr) {
    op.name = value->name;
    op.type = value->type;
    op.data = value->data;
  }
  journal_.push_back(std::move(op));
}

void RegistryStore::ApplyLocked(const std::vector<RegTextOp>& ops) {
  if (journaling_) journal_.insert(journal_.end(), ops.begin(), ops.end());
  ApplyOps(ops);
}

void RegistryStore::ApplyOps(const std::vector<RegTextOp>& ops) {
  for (const RegTextOp& op : ops) {
    switch (op.kind) {
      case RegTextOp::kCreateKey:
        Walk(op.hive, op.path, true);
        break;
      case RegTextOp::kDeleteKey: {
        std::shared_ptr<KeyNode> key = Walk(op.hive, op.path, false);
        if (!key) break;
        if (key->parent == nullptr) {  // a whole hive: empty it, the root stays
          for (auto& child : key->children) MarkDeleted(child.second.get());
          key->children.clear();
          key->values.Clear();
        } else {
          Unlink(key);
        }
        break;
      }
      case RegTextOp::kSetValue: {
        std::shared_ptr<KeyNode> key = Walk(op.hive, op.path, true);
        if (key) key->values.Set(op.name, op.type, op.data);
        break;
      }
      case RegTextOp::kDeleteValue: {
        std::shared_ptr<KeyNode> key = Walk(op.hive, op.path, false);
        if (key) key->values.Erase(op.name);
        break;
      }
    }
  }
}

void RegistryStore::Apply(const std::vector<RegTextOp>& ops) {
  std::lock_guard<std::mutex> lock(mutex_);
  ApplyLocked(ops);
}

void RegistryStore::ClearHives() {
  MarkDeleted(machine_.get());
  MarkDeleted(user_.get());
  machine_ = NewRoot(Hive::kLocalMachine);
  user_ = NewRoot(Hive::kCurrentUser);
}

void RegistryStore::Load(const std::vector<RegTextOp>& ops) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearHives();
  ApplyOps(ops);
  journaling_ = true;
  journal_.clear();
}

void RegistryStore::Rebase(const std::vector<RegTextOp>& ops) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<KeyNode> machine = std::move(machine_);
  std::shared_ptr<KeyNode> user = std::move(user_);
  machine_ = NewRoot(Hive::kLocalMachine);
  user_ = NewRoot(Hive::kCurrentUser);
  ApplyOps(ops);
  ApplyOps(journal_);
  Adopt(machine.get(), machine_);
  Adopt(user.get(), user_);
  machine_ = std::move(machine);
  user_ = std::move(user);
}

std::string RegistryStore::ExportForSave(size_t* changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  *changes = journal_.size();
  std::string text = RegTextHeader();
  FormatRegTree(*machine_, HiveName(Hive::kLocalMachine), &text);
  FormatRegTree(*user_, HiveName(Hive::kCurrentUser), &text);
  return text;
}

void RegistryStore::MarkSaved(size_t changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  journal_.erase(journal_.begin(), journal_.begin() + std::min(changes, journal_.size()));
}

bool RegistryStore::HasUnsavedChanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !journal_.empty();
}

void RegistryStore::Unbind() {
  std::lock_guard<std::mutex> lock(mutex_);
  journaling_ = false;
  journal_.clear();
}

void RegistryStore::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearHives();
  handles_.clear();
  limited_ = false;
  journaling_ = false;
  journal_.clear();
}

RegistryStore& RawRegistry() {
  // Never destroyed: threads and exit handlers may still reach it while statics go away.
  static RegistryStore* store = new RegistryStore;
  return *store;
}

RegistryStore& Registry() {
  SyncRegistryFile();
  return RawRegistry();
}

}  // namespace host::detail

using host::detail::CallGate;
using host::detail::Registry;

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                          PHKEY phkResult) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  return Registry().OpenKey(hKey, lpSubKey, samDesired, false, phkResult, nullptr);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                            DWORD /*dwOptions*/, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  // Volatile keys are kept like any other: the host registry lives as long as its file.
  return Registry().OpenKey(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition);
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD /*lpReserved*/, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  return Registry().QueryValue(hKey, lpValueName, lpType, lpData, lpcbData);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  return Registry().SetValue(hKey, lpValueName, dwType, lpData, cbData);
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  return Registry().DeleteValue(hKey, lpValueName);
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  return Registry().DeleteKey(hKey, lpSubKey);
}

// The stand-in keeps no class and no time of the last write: a class reads as empty, the time
// as zero.
LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD /*lpReserved*/, LPSTR lpClass, LPDWORD lpcchClass,
                          struct _FILETIME* lpftLastWriteTime) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  const LONG rc = Registry().EnumKey(hKey, dwIndex, lpName, lpcchName);
  if (rc != ERROR_SUCCESS) return rc;
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) {
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
  return ERROR_SUCCESS;
}

LONG WINAPI RegFlushKey(HKEY hKey) {
  CallGate gate(__func__);
  if (gate.Fails()) return gate.Answer<LONG>();
  LONG rc = Registry().CheckHandle(hKey);
  // A change that could not be stored is not reported as flushed.
  if (rc == ERROR_SUCCESS) rc = host::detail::SaveRegistryFile();
  return rc;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  CallGate gate(__func__);
  // Windows releases the handle even when it reports a failure.
  const LONG rc = Registry().CloseKey(hKey);
  if (gate.Fails()) return gate.Answer<LONG>();
  return rc;
}

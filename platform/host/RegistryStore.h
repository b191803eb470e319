// The host registry: two hives of keys and values in memory, and the table of open key
// handles. Internal to platform/host; the Reg*A functions, the control surface, the .reg
// text and the display settings all work through it.
#ifndef PM_HOST_REGISTRYSTORE_H
#define PM_HOST_REGISTRYSTORE_H

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "HostWin32.h"

namespace host::detail {

enum class Hive { kLocalMachine, kCurrentUser };

// "HKEY_LOCAL_MACHINE" / "HKEY_CURRENT_USER".
const char* HiveName(Hive hive);

// Registry names compare without regard to ASCII case.
std::string FoldCase(const std::string& name);

// Windows nests keys at most this many levels below a hive's root; deeper keys are refused
// when created and when read from .reg text.
constexpr size_t kMaxKeyDepth = 512;

struct ValueNode {
  std::string name;  // as first written
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

// The values of one key in creation order, found by folded name without a scan, so that a key
// with many values loads in linear time.
class ValueList {
 public:
  using const_iterator = std::list<ValueNode>::const_iterator;

  ValueList() = default;
  ValueList(ValueList&&) = default;
  ValueList& operator=(ValueList&&) = default;
  // The index points into the list, so a copy would point into the original.
  ValueList(const ValueList&) = delete;
  ValueList& operator=(const ValueList&) = delete;

  ValueNode* Find(const std::string& name);
  // Replaces the type and data of the value of that name, or adds it at the end.
  ValueNode* Set(const std::string& name, DWORD type, std::vector<uint8_t> data);
  // False when there is no such value.
  bool Erase(const std::string& name);
  void Clear();
  const_iterator begin() const { return order_.begin(); }
  const_iterator end() const { return order_.end(); }

 private:
  std::list<ValueNode> order_;
  std::unordered_map<std::string, std::list<ValueNode>::iterator> byName_;  // folded name
};

struct KeyNode {
  std::string name;  // as first written; empty for a hive's root
  KeyNode* parent = nullptr;
  Hive hive = Hive::kCurrentUser;
  // Handles may outlive a deleted key: they then answer ERROR_KEY_DELETED.
  bool deleted = false;
  // Its security denies this account the rights to read it (kReadRights): an open that asks
  // for any of them is refused, as a key whose access list denies reading is on Windows.
  bool unreadable = false;
  std::map<std::string, std::shared_ptr<KeyNode>> children;  // by folded name
  ValueList values;

  std::shared_ptr<KeyNode> FindChild(const std::string& name) const;
  // Levels below the hive's root: 0 for the root itself.
  size_t Depth() const;
  // Children sorted by folded name, which is the order regedit lists them in.
  std::vector<const KeyNode*> SortedChildren() const;
};

// One change made by importing .reg text; parsed first, applied as a whole.
struct RegTextOp {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind = kCreateKey;
  Hive hive = Hive::kCurrentUser;
  std::string path;  // below the hive root, components separated by backslashes
  std::string name;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

class RegistryStore {
 public:
  // Win32 semantics; each returns the Windows error code.
  LONG OpenKey(HKEY parent, const char* subkey, REGSAM sam, bool create, HKEY* result,
               DWORD* disposition);
  LONG QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
  LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
  LONG DeleteValue(HKEY key, const char* name);
  LONG DeleteKey(HKEY key, const char* subkey);
  // The name of subkey `index` in folded-name order.
  LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* size);
  LONG CheckHandle(HKEY key);
  LONG CloseKey(HKEY key);

  // Direct access for the control surface and the stand-in itself: no handles, no access
  // rights. Paths are backslash-separated below the hive root ("" is the root).
  bool KeyExists(Hive hive, const std::string& path);
  bool ReadValue(Hive hive, const std::string& path, const std::string& name, DWORD* type,
                 std::vector<uint8_t>* data);
  void WriteValue(Hive hive, const std::string& path, const std::string& name, DWORD type,
                  const std::vector<uint8_t>& data);
  void DeleteKeyTree(Hive hive, const std::string& path);
  // False when there is no such key.
  bool DenyReading(Hive hive, const std::string& path, bool deny);
  size_t OpenKeyCount();
  void SetLimitedUser(bool limited);
  bool LimitedUser();

  // .reg text: export of one subtree (false when the key is absent) or of both hives.
  bool Export(Hive hive, const std::string& path, std::string* text);
  std::string ExportAll();
  void Apply(const std::vector<RegTextOp>& ops);

  // The registry file (RegistryFile.cpp). The store then holds the file's content plus a
  // journal of every change made since, so that those changes can be put on top of what
  // another process has saved meanwhile.
  // Empties both hives (open handles then answer ERROR_KEY_DELETED), applies the file's
  // `ops` and starts the journal.
  void Load(const std::vector<RegTextOp>& ops);
  // Takes `ops` as the file's new content and replays the journal on it. Keys that still
  // exist keep their nodes, and so their open handles.
  void Rebase(const std::vector<RegTextOp>& ops);
  // Both hives as .reg text, and how many journal entries that text includes.
  std::string ExportForSave(size_t* changes);
  // The first `changes` journal entries are in the file now.
  void MarkSaved(size_t changes);
  bool HasUnsavedChanges();
  // No file any more: stops the journal.
  void Unbind();

  // Empties both hives, forgets every handle and makes the user an administrator again.
  void Reset();

 private:
  struct OpenHandle {
    std::shared_ptr<KeyNode> key;
    REGSAM access = 0;
  };

  // The key a handle names and the rights it carries, or the error to answer.
  LONG Resolve(HKEY handle, std::shared_ptr<KeyNode>* key, REGSAM* access);
  std::shared_ptr<KeyNode>& Root(Hive hive);
  std::shared_ptr<KeyNode> Walk(Hive hive, const std::string& path, bool create);
  void Unlink(const std::shared_ptr<KeyNode>& key);
  void ClearHives();
  // Applies `ops` and notes them in the journal.
  void ApplyLocked(const std::vector<RegTextOp>& ops);
  void ApplyOps(const std::vector<RegTextOp>& ops);
  // Notes one change made through a handle in the journal.
  void Journal(RegTextOp::Kind kind, const KeyNode& key, const ValueNode* value);

  std::mutex mutex_;
  std::shared_ptr<KeyNode> machine_ = NewRoot(Hive::kLocalMachine);
  std::shared_ptr<KeyNode> user_ = NewRoot(Hive::kCurrentUser);
  std::unordered_map<uintptr_t, OpenHandle> handles_;
  bool limited_ = false;
  bool journaling_ = false;  // bound to a registry file
  std::vector<RegTextOp> journal_;

  static std::shared_ptr<KeyNode> NewRoot(Hive hive);
};

// The store, after binding it to the registry file (see SyncRegistryFile).
RegistryStore& Registry();
// The store as it is, for Reset and the registry file itself.
RegistryStore& RawRegistry();

// .reg text (RegText.cpp).
// Parses version 5.00 or REGEDIT4 text; on failure returns false and sets *error to
// "line N: what is wrong".
bool ParseRegText(const std::string& text, std::vector<RegTextOp>* ops, std::string* error);
// The header line with the blank line after it.
std::string RegTextHeader();
// The blocks of `key` and its subtree, the key itself named `fullName`.
void FormatRegTree(const KeyNode& key, const std::string& fullName, std::string* out);

}  // namespace host::detail

#endif

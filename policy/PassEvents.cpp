#include "PassEvents.h"

#include <algorithm>
#include <cstring>

#include "PMEvents.h"
#include "SettingTable.h"

namespace {

constexpr const char* kUnknownUser = "(unknown)";
// The longest user name Windows allows, 256 characters, and the terminating zero.
constexpr DWORD kUserNameBuffer = 257;

}  // namespace

PassEvents::PassEvents(const char* program) : program_(program) {}

void PassEvents::Changed(const char* setting, DWORD before, DWORD after) {
  changes_.push_back({setting, before, after});
}

void PassEvents::MachineHalfNotStored() {
  // The hibernation time-outs, which the scheme's machine half keeps.
  auto inMachineHalf = [](const Change& change) {
    for (const Setting& setting : kSettings) {
      if (change.setting == setting.policyValue) return setting.id.timeout == Timeout::kHibernate;
    }
    return false;
  };
  changes_.erase(std::remove_if(changes_.begin(), changes_.end(), inMachineHalf), changes_.end());
}

void PassEvents::Failed(const std::string& text) {
  failed_ = true;
  failure_ = text;
}

void PassEvents::HeldByWindowsPolicy(const char* setting, DWORD heldMinutes, DWORD policyMinutes) {
  Report(pm_events::kSettingHeldByWindowsPolicy,
         {setting, std::to_string(heldMinutes), std::to_string(policyMinutes)});
}

void PassEvents::StateNotAvailable(const char* setting, DWORD policyMinutes, const char* state) {
  Report(pm_events::kStateNotAvailable, {setting, std::to_string(policyMinutes), state});
}

void PassEvents::LogTargetRefused(const std::string& path, const std::string& reason) {
  Report(pm_events::kLogTargetRefused, {path, reason});
}

void PassEvents::PolicyValueWrongType(const std::string& key, const std::string& name, DWORD type) {
  Report(pm_events::kPolicyValueWrongType, {key, name, TypeName(type)});
}

void PassEvents::PolicyValueUnreadable(const std::string& key, const std::string& name,
                                       LONG error) {
  Report(pm_events::kPolicyValueUnreadable, {key, name, std::to_string(error)});
}

void PassEvents::End() {
  if (failed_) {
    Report(pm_events::kPassFailed, {failure_});
  } else if (!changes_.empty()) {
    std::string lines;
    for (const Change& change : changes_) {
      if (!lines.empty()) lines += "\r\n";
      lines += change.setting + " " + std::to_string(change.before) + " -> " +
               std::to_string(change.after);
    }
    Report(pm_events::kPassChangedSettings, {std::to_string(changes_.size()), lines});
  }
  changes_.clear();
  failed_ = false;
  failure_.clear();
}

std::string PassEvents::TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return std::to_string(type);
  }
}

void PassEvents::Report(const PMEvent& event, std::vector<std::string> facts) {
  facts.insert(facts.begin(), {program_, User()});
  reporter_.Report(event, facts);
}

const std::string& PassEvents::User() {
  if (!userAsked_) {
    userAsked_ = true;
    char name[kUserNameBuffer] = "";
    DWORD size = sizeof name;
    user_ =
        GetUserNameA(name, &size) ? std::string(name, strnlen(name, sizeof name)) : kUnknownUser;
  }
  return user_;
}

#include "StatusReport.h"

#include <cstdio>

namespace {

constexpr const char* kFormatVersion = "2";
constexpr const char* kNotRead = "-";
// The pass logs a failure text with this ending; the report leaves it off, so that no line
// ends in a blank.
constexpr const char* kFailureTextEnding = "->System Error: ";

std::string Line(const char* key, const std::string& value) {
  return std::string(key) + ": " + value + "\n";
}

std::string Reading(const PolicyReading& reading) {
  switch (reading.kind) {
    case PolicyReading::kNotRead:
      return kNotRead;
    case PolicyReading::kAbsent:
      return "absent";
    case PolicyReading::kNotANumber:
      return "not-a-dword";
    case PolicyReading::kUnreadable:
      return "unreadable";
    case PolicyReading::kNumber:
      break;
  }
  return std::to_string(reading.value);
}

// A reading with its verdict first: "accepted 2", "on absent".
std::string Judged(const PolicyReading& reading, bool good, const char* yes, const char* no) {
  if (reading.kind == PolicyReading::kNotRead) return kNotRead;
  return std::string(good ? yes : no) + " " + Reading(reading);
}

// A registry text in double quotes, byte for byte where it is printable ASCII; a quote, a
// backslash and every other byte escaped, so the line stays one line of plain text.
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      quoted += c;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      quoted += escaped;
    }
  }
  return quoted + "\"";
}

std::string SchemeName(const PolicyStatus& status) {
  if (!status.schemeNameRead) return kNotRead;
  return std::string(status.schemeNameAccepted ? "accepted " : "rejected ") +
         Quoted(status.schemeName);
}

std::string WithoutEnding(std::string text) {
  const std::string ending = kFailureTextEnding;
  if (text.size() >= ending.size() &&
      text.compare(text.size() - ending.size(), ending.size(), ending) == 0) {
    text.resize(text.size() - ending.size());
  }
  return text;
}

const char* VerdictWord(SettingVerdict verdict) {
  switch (verdict) {
    case SettingVerdict::kSame:
      return "same";
    case SettingVerdict::kIgnored:
      return "ignored";
    case SettingVerdict::kChange:
      return "change";
    case SettingVerdict::kRefused:
      return "refused";
    case SettingVerdict::kNoSuchState:
      return "no-such-state";
    case SettingVerdict::kHeld:
      return "held";
    case SettingVerdict::kHeldElsewhere:
      return "held-elsewhere";
    case SettingVerdict::kUnknown:
      break;
  }
  return "unknown";
}

std::string Padded(std::string field, size_t width) {
  if (field.size() < width) field.append(width - field.size(), ' ');
  return field;
}

// "NAME policy=P scheme=S pass=V", in columns for the eye; fields are split on blanks, and a
// refusal's reason, which has blanks of its own, is the rest of the line after "reason=".
std::string SettingLine(const SettingStatus& setting) {
  const std::string scheme = setting.schemeRead ? std::to_string(setting.scheme) : kNotRead;
  std::string value = Padded(setting.policyValue, 26) +
                      Padded("policy=" + Reading(setting.policy), 19) +
                      Padded("scheme=" + scheme, 18) + "pass=" + VerdictWord(setting.verdict);
  if (setting.verdict == SettingVerdict::kHeld ||
      setting.verdict == SettingVerdict::kHeldElsewhere) {
    // The value Windows' own power policy holds, in seconds as it stores it.
    value += " windows-policy=" +
             (setting.hold.valueRead ? std::to_string(setting.hold.seconds) + "s" : "unreadable");
  }
  if (setting.verdict == SettingVerdict::kRefused) {
    value += " reason=" + WithoutEnding(setting.refusal);
  }
  return Line("setting", value);
}

// What Windows applies now on one power source, in seconds: "video=S sleep=S hibernate=S
// disk=S", or "-" where the interface cannot tell.
std::string AppliedValue(const AppliedPolicy& applied) {
  if (!applied.read) return kNotRead;
  return "video=" + std::to_string(applied.video) + " sleep=" + std::to_string(applied.idle) +
         " hibernate=" + std::to_string(applied.hibernate) +
         " disk=" + std::to_string(applied.disk);
}

// "off", "writes to PATH", "refused: REASON" or "cannot open PATH: error N"; "-" without a root.
std::string LogValue(const LogStatus& log) {
  switch (log.kind) {
    case LogStatus::kNotRead:
      return kNotRead;
    case LogStatus::kOff:
      return "off";
    case LogStatus::kOn:
      break;
  }
  switch (log.target.verdict) {
    case LogTarget::kWrites:
      return "writes to " + Quoted(log.target.path);
    case LogTarget::kRefused:
      return std::string("refused: ") + log.target.reason;
    case LogTarget::kCannotOpen:
      break;
  }
  return "cannot open " + Quoted(log.target.path) + ": error " + std::to_string(log.target.error);
}

// A value of the policy named in the result is a policy value's name; a key is quoted as
// settings-scheme quotes its text.
std::string Result(const PolicyStatus& status) {
  switch (status.cannotTell) {
    case CannotTell::kNo:
      if (status.HeldElsewhere()) return "held-by-windows-policy";
      return status.Differs() ? "differs" : "complies";
    case CannotTell::kNoRoot:
      return "unknown no-root";
    case CannotTell::kVersionRejected:
      return "unknown version-rejected";
    case CannotTell::kKeyUnreadable:
      return "unknown key-unreadable " + Quoted(status.cannotTellWhat) + " error " +
             std::to_string(status.cannotTellError);
    case CannotTell::kSchemeNameRejected:
      return "unknown settings-scheme-rejected";
    case CannotTell::kNoPowerInterface:
      return "unknown no-power-interface";
    case CannotTell::kNoActiveScheme:
      return "unknown no-active-scheme";
    case CannotTell::kValueNotANumber:
      return "unknown not-a-dword " + status.cannotTellWhat;
    case CannotTell::kValueUnreadable:
      return "unknown value-unreadable " + status.cannotTellWhat + " error " +
             std::to_string(status.cannotTellError);
    case CannotTell::kSchemeUnreadable:
      break;
  }
  return "unknown scheme-unreadable";
}

}  // namespace

std::string FormatPolicyStatus(const PolicyStatus& status) {
  std::string text = Line("format", kFormatVersion);
  text += Line("root", status.root != nullptr ? std::string("HKEY_LOCAL_MACHINE\\") + status.root
                                              : std::string("none"));
  text += Line("interface", status.powerInterface);
  text += Line("version", Judged(status.version, status.versionAccepted, "accepted", "rejected"));
  text += Line("settings-scheme", SchemeName(status));
  text +=
      Line("security-bypass", Judged(status.securityBypass, status.securityBypassOn, "on", "off"));
  text += Line("force-standby", Judged(status.forceStandby, status.forceStandbyOn, "on", "off"));
  text += Line("active-scheme", !status.activeSchemeKnown ? "unknown"
                                : status.schemeRead       ? "read"
                                                          : "unreadable");
  text += Line("write-access", status.mayWriteScheme ? "yes" : "no");
  for (const SettingStatus& setting : status.settings) text += SettingLine(setting);
  text += Line("windows-applies-ac", AppliedValue(status.appliedAc));
  text += Line("windows-applies-dc", AppliedValue(status.appliedDc));
  text += Line("log", LogValue(status.log));
  text += Line("result", Result(status));
  return text;
}

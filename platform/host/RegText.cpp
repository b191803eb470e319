// .reg text, read and written the way regedit does.
//
// The host registry holds the bytes the ANSI functions see, and the host's ANSI code page is
// taken as Latin-1 (one byte, one UTF-16 code unit). A version 5.00 file is Unicode, so there
// the string types written as hex(1), hex(2) and hex(7) carry UTF-16LE bytes and are
// converted on the way in and out; REGEDIT4 files carry the ANSI bytes themselves.
#include <cstdio>
#include <cstring>

#include "RegistryStore.h"

namespace host::detail {
namespace {

constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
constexpr const char* kHeader4 = "REGEDIT4";
constexpr const char* kNewline = "\r\n";
// regedit breaks a hex line once it has reached this many characters.
constexpr size_t kHexLineLimit = 77;

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::vector<uint8_t> AnsiToUtf16(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out.push_back(b);
    out.push_back(0);
  }
  return out;
}

// A lone trailing byte is kept as a character of its own.
std::vector<uint8_t> Utf16ToAnsi(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    unsigned unit = bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
    out.push_back(unit <= 0xFF ? static_cast<uint8_t>(unit) : '?');
  }
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// A REG_SZ is written as "text" only when that reads back as the same bytes: exactly one
// terminating zero, no zero inside, and no line break that would split the line.
bool IsCleanString(const std::vector<uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  }
  return true;
}

void FormatValue(const ValueNode& value, std::string* out) {
  std::string line = value.name.empty() ? "@=" : "\"" + Escape(value.name) + "\"=";
  char buffer[32];
  if (value.type == REG_SZ && IsCleanString(value.data)) {
    line += "\"" + Escape(std::string(value.data.begin(), value.data.end() - 1)) + "\"";
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                   static_cast<DWORD>(value.data[3]) << 24;
    std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(number));
    line += buffer;
  } else {
    if (value.type == REG_BINARY) {
      line += "hex:";
    } else {
      std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
      line += buffer;
    }
    std::vector<uint8_t> bytes = IsStringType(value.type) ? AnsiToUtf16(value.data) : value.data;
    size_t lineStart = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
      std::snprintf(buffer, sizeof buffer, "%02x", bytes[i]);
      line += buffer;
      if (i + 1 == bytes.size()) break;
      line += ',';
      if (line.size() - lineStart >= kHexLineLimit) {
        line += "\\";
        line += kNewline;
        lineStart = line.size();
        line += "  ";
      }
    }
  }
  *out += line;
  *out += kNewline;
}

// ---- Parsing ----------------------------------------------------------------------------

struct Line {
  size_t number;
  std::string text;
};

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

size_t SkipSpaces(const std::string& s, size_t pos) {
  while (pos < s.size() && IsSpace(s[pos])) ++pos;
  return pos;
}

// Nothing but blanks or a ;comment from `pos` on.
bool OnlyTrailer(const std::string& s, size_t pos) {
  pos = SkipSpaces(s, pos);
  return pos == s.size() || s[pos] == ';';
}

bool StartsWithNoCase(const std::string& s, size_t pos, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (s.size() - pos < n) return false;
  return FoldCase(s.substr(pos, n)) == FoldCase(prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A whole file as lines of bytes, whatever its encoding and line ends.
std::vector<Line> SplitLines(const std::string& raw) {
  std::string text;
  if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFF &&
      static_cast<uint8_t>(raw[1]) == 0xFE) {
    std::vector<uint8_t> wide(raw.begin() + 2, raw.end());
    std::vector<uint8_t> narrow = Utf16ToAnsi(wide);
    text.assign(narrow.begin(), narrow.end());
  } else if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = raw.substr(3);
  } else {
    text = raw;
  }
  std::vector<Line> lines;
  size_t start = 0;
  size_t number = 1;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(Line{number++, line});
    start = end + 1;
  }
  return lines;
}

class Parser {
 public:
  Parser(std::vector<RegTextOp>* ops, std::string* error) : ops_(ops), error_(error) {}

  bool Run(const std::string& raw) {
    lines_ = SplitLines(raw);
    size_t i = 0;
    while (i < lines_.size() && Trim(lines_[i].text).empty()) ++i;
    if (i == lines_.size()) return Fail(1, "empty text, no header");
    std::string header = Trim(lines_[i].text);
    if (header == kHeader5) {
      unicode_ = true;
    } else if (header == kHeader4) {
      unicode_ = false;
    } else {
      return Fail(lines_[i].number, "not a .reg header: \"" + header + "\"");
    }
    for (++i; i < lines_.size(); ++i) {
      const std::string& text = lines_[i].text;
      size_t pos = SkipSpaces(text, 0);
      if (pos == text.size() || text[pos] == ';') continue;
      bool ok = text[pos] == '[' ? KeyLine(lines_[i].number, text, pos) : ValueLine(&i, pos);
      if (!ok) return false;
    }
    return true;
  }

 private:
  static std::string Trim(const std::string& s) {
    size_t b = SkipSpaces(s, 0);
    size_t e = s.size();
    while (e > b && IsSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
  }

  // Key names in a path, as the registry counts them (empty ones are skipped).
  static size_t Depth(const std::string& path) {
    size_t depth = 0;
    for (size_t i = 0; i < path.size(); ++i) {
      if (path[i] != '\\' && (i == 0 || path[i - 1] == '\\')) ++depth;
    }
    return depth;
  }

  bool Fail(size_t line, const std::string& what) {
    if (error_ != nullptr) *error_ = "line " + std::to_string(line) + ": " + what;
    return false;
  }

  bool KeyLine(size_t number, const std::string& text, size_t pos) {
    size_t close = text.rfind(']');
    if (close == std::string::npos || close < pos) return Fail(number, "missing ']'");
    if (!OnlyTrailer(text, close + 1)) return Fail(number, "text after ']'");
    std::string name = text.substr(pos + 1, close - pos - 1);
    bool remove = !name.empty() && name[0] == '-';
    if (remove) name.erase(0, 1);
    size_t slash = name.find('\\');
    std::string root = FoldCase(name.substr(0, slash));
    std::string path = slash == std::string::npos ? "" : name.substr(slash + 1);
    if (Depth(path) > kMaxKeyDepth) {
      return Fail(number, "key nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
    }
    if (root == "hkey_local_machine" || root == "hklm") {
      hive_ = Hive::kLocalMachine;
    } else if (root == "hkey_current_user" || root == "hkcu") {
      hive_ = Hive::kCurrentUser;
    } else {
      return Fail(number, "unknown root key \"" + name.substr(0, slash) + "\"");
    }
    RegTextOp op;
    op.kind = remove ? RegTextOp::kDeleteKey : RegTextOp::kCreateKey;
    op.hive = hive_;
    op.path = path;
    ops_->push_back(op);
    path_ = path;
    inKey_ = true;
    // regedit ignores the values listed under a deleted key.
    ignoreValues_ = remove;
    return true;
  }

  // "text" with \\ and \" escapes, starting at the opening quote.
  bool QuotedString(size_t number, const std::string& text, size_t* pos, std::string* out) {
    size_t p = *pos + 1;
    out->clear();
    while (p < text.size() && text[p] != '"') {
      if (text[p] == '\\') {
        if (p + 1 >= text.size() || (text[p + 1] != '\\' && text[p + 1] != '"')) {
          return Fail(number, "unknown escape in quoted text");
        }
        ++p;
      }
      *out += text[p++];
    }
    if (p == text.size()) return Fail(number, "unterminated quoted text");
    *pos = p + 1;
    return true;
  }

  bool ValueLine(size_t* index, size_t pos) {
    const size_t number = lines_[*index].number;
    const std::string& text = lines_[*index].text;
    if (!inKey_) return Fail(number, "value outside of a key");
    RegTextOp op;
    op.hive = hive_;
    op.path = path_;
    if (text[pos] == '@') {
      ++pos;
    } else if (text[pos] == '"') {
      if (!QuotedString(number, text, &pos, &op.name)) return false;
    } else {
      return Fail(number, "expected a key, a value name or @");
    }
    pos = SkipSpaces(text, pos);
    if (pos == text.size() || text[pos] != '=') return Fail(number, "expected '='");
    pos = SkipSpaces(text, pos + 1);

    if (pos < text.size() && text[pos] == '-') {
      if (!OnlyTrailer(text, pos + 1)) return Fail(number, "text after '-'");
      op.kind = RegTextOp::kDeleteValue;
    } else if (pos < text.size() && text[pos] == '"') {
      std::string value;
      if (!QuotedString(number, text, &pos, &value)) return false;
      if (!OnlyTrailer(text, pos)) return Fail(number, "text after the closing quote");
      op.kind = RegTextOp::kSetValue;
      op.type = REG_SZ;
      op.data.assign(value.begin(), value.end());
      op.data.push_back(0);
    } else if (StartsWithNoCase(text, pos, "dword:")) {
      pos += 6;
      size_t end = pos;
      DWORD number32 = 0;
      while (end < text.size() && HexDigit(text[end]) >= 0) {
        number32 = number32 << 4 | static_cast<DWORD>(HexDigit(text[end]));
        ++end;
      }
      if (end == pos || end - pos > 8) return Fail(number, "dword: needs 1 to 8 hex digits");
      if (!OnlyTrailer(text, end)) return Fail(number, "text after the dword");
      op.kind = RegTextOp::kSetValue;
      op.type = REG_DWORD;
      op.data = {static_cast<uint8_t>(number32), static_cast<uint8_t>(number32 >> 8),
                 static_cast<uint8_t>(number32 >> 16), static_cast<uint8_t>(number32 >> 24)};
    } else if (StartsWithNoCase(text, pos, "hex")) {
      op.kind = RegTextOp::kSetValue;
      if (!HexValue(index, pos + 3, &op)) return false;
    } else {
      return Fail(number, "unrecognised value data");
    }
    if (!ignoreValues_) ops_->push_back(op);
    return true;
  }

  // hex:... or hex(N):..., continued on following lines after a trailing backslash.
  bool HexValue(size_t* index, size_t pos, RegTextOp* op) {
    const size_t number = lines_[*index].number;
    std::string text = lines_[*index].text;
    op->type = REG_BINARY;
    if (pos < text.size() && text[pos] == '(') {
      size_t close = text.find(')', pos);
      if (close == std::string::npos || close == pos + 1 || close - pos - 1 > 8) {
        return Fail(number, "bad hex(type)");
      }
      DWORD type = 0;
      for (size_t p = pos + 1; p < close; ++p) {
        int digit = HexDigit(text[p]);
        if (digit < 0) return Fail(number, "bad hex(type)");
        type = type << 4 | static_cast<DWORD>(digit);
      }
      op->type = type;
      pos = close + 1;
    }
    if (pos >= text.size() || text[pos] != ':') return Fail(number, "expected ':' after hex");
    std::string list = text.substr(SkipSpaces(text, pos + 1));
    // Where each line's part of the list starts, and the line's number, for the messages.
    std::vector<std::pair<size_t, size_t>> lineStarts{{0, number}};
    // Join continuation lines: a list ending in a backslash goes on on the next line. Each
    // line is appended once, so a long value takes time in proportion to its length.
    for (;;) {
      size_t last = list.find_last_not_of(" \t");
      if (last == std::string::npos || list[last] != '\\') break;
      list.erase(last);
      if (*index + 1 >= lines_.size()) return Fail(number, "continuation at end of text");
      ++*index;
      lineStarts.emplace_back(list.size(), lines_[*index].number);
      list += lines_[*index].text;
    }
    list = Trim(list);
    auto lineOf = [&lineStarts](size_t offset) {
      size_t line = lineStarts.front().second;
      for (const auto& start : lineStarts) {
        if (start.first <= offset) line = start.second;
      }
      return line;
    };
    size_t comment = list.find(';');
    if (comment != std::string::npos) list.erase(comment);
    std::vector<uint8_t> bytes;
    size_t p = 0;
    for (;;) {
      p = SkipSpaces(list, p);
      if (p == list.size()) break;
      size_t start = p;
      unsigned byte = 0;
      while (p < list.size() && HexDigit(list[p]) >= 0 && p - start < 3) {
        byte = byte << 4 | static_cast<unsigned>(HexDigit(list[p]));
        ++p;
      }
      if (p == start || p - start > 2) return Fail(lineOf(start), "bad byte in hex list");
      bytes.push_back(static_cast<uint8_t>(byte));
      p = SkipSpaces(list, p);
      if (p == list.size()) break;
      if (list[p] != ',') return Fail(lineOf(p), "expected ',' in hex list");
      ++p;
    }
    op->data = unicode_ && IsStringType(op->type) ? Utf16ToAnsi(bytes) : bytes;
    return true;
  }

  std::vector<RegTextOp>* ops_;
  std::string* error_;
  std::vector<Line> lines_;
  bool unicode_ = true;
  bool inKey_ = false;
  bool ignoreValues_ = false;
  Hive hive_ = Hive::kCurrentUser;
  std::string path_;
};

}  // namespace

bool ParseRegText(const std::string& text, std::vector<RegTextOp>* ops, std::string* error) {
  std::vector<RegTextOp> parsed;
  Parser parser(&parsed, error);
  if (!parser.Run(text)) return false;
  *ops = std::move(parsed);
  return true;
}

std::string RegTextHeader() { return std::string(kHeader5) + kNewline + kNewline; }

void FormatRegTree(const KeyNode& key, const std::string& fullName, std::string* out) {
  // Each key before its subkeys, subkeys in order; the keys still to write wait on a stack
  // rather than in nested calls, so no tree is too deep for the stack.
  std::vector<std::pair<const KeyNode*, std::string>> pending{{&key, fullName}};
  while (!pending.empty()) {
    const KeyNode* next = pending.back().first;
    const std::string name = std::move(pending.back().second);
    pending.pop_back();
    *out += "[" + name + "]" + kNewline;
    for (const ValueNode& value : next->values) FormatValue(value, out);
    *out += kNewline;
    std::vector<const KeyNode*> children = next->SortedChildren();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      pending.emplace_back(*it, name + "\\" + (*it)->name);
    }
  }
}

}  // namespace host::detail

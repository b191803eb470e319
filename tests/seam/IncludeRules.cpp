#include "IncludeRules.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

namespace seam {
namespace {

// The headers of the C++ standard library, and those of the C library it takes over.
const std::set<std::string>& StandardHeaders() {
  static const std::set<std::string> headers = {
      "algorithm", "any", "array", "atomic", "barrier", "bit", "bitset", "cassert", "cctype",
      "cerrno", "cfenv", "cfloat", "charconv", "chrono", "cinttypes", "climits", "clocale", "cmath",
      "compare", "complex", "concepts", "condition_variable", "coroutine", "csetjmp", "csignal",
      "cstdarg", "cstddef", "cstdint", "cstdio", "cstdlib", "cstring", "ctime", "cuchar", "cwchar",
      "cwctype", "deque", "exception", "execution", "filesystem", "format", "forward_list",
      "fstream", "functional", "future", "initializer_list", "iomanip", "ios", "iosfwd", "iostream",
      "istream", "iterator", "latch", "limits", "list", "locale", "map", "memory",
      "memory_resource", "mutex", "new", "numbers", "numeric", "optional", "ostream", "queue",
      "random", "ranges", "ratio", "regex", "scoped_allocator", "semaphore", "set", "shared_mutex",
      "source_location", "span", "sstream", "stack", "stdexcept", "stop_token", "streambuf",
      "string", "string_view", "syncstream", "system_error", "thread", "tuple", "type_traits",
      "typeindex", "typeinfo", "unordered_map", "unordered_set", "utility", "valarray", "variant",
      "vector", "version",
      // The C library's own names.
      "assert.h", "ctype.h", "errno.h", "fenv.h", "float.h", "inttypes.h", "iso646.h", "limits.h",
      "locale.h", "math.h", "setjmp.h", "signal.h", "stdarg.h", "stddef.h", "stdint.h", "stdio.h",
      "stdlib.h", "string.h", "time.h", "uchar.h", "wchar.h", "wctype.h"};
  return headers;
}

constexpr const char* kPlatformHeader = "Win32Api.h";
// Every system source may include the version header the build makes from
// cmake/DorvaneVersion.h.in (constants only: the service names its version in its start event);
// a resource script (compiled for Windows alone) may also include the resource compiler's
// definitions.
constexpr const char* kResourceCompilerHeader = "windows.h";
constexpr const char* kGeneratedVersionHeader = "DorvaneVersion.h";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsResourceScript(const std::string& file) { return EndsWith(file, ".rc"); }

// Sources, headers and resource scripts, also as templates the build configures (".h.in").
bool IsSource(const fs::path& path) {
  std::string name = path.filename().string();
  if (EndsWith(name, ".in")) name.resize(name.size() - 3);
  for (const char* ext :
       {".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx", ".inl", ".ipp", ".rc"}) {
    if (EndsWith(name, ext)) return true;
  }
  return false;
}

// A folder the walk leaves alone: hidden ones and build trees.
bool IsSkipped(const fs::path& dir) {
  const std::string name = dir.filename().string();
  return (!name.empty() && name[0] == '.') || fs::exists(dir / "CMakeCache.txt");
}

// The sources below `dir`, as paths relative to `root`, sorted.
std::vector<std::string> SourcesBelow(const fs::path& root, const fs::path& dir) {
  std::vector<std::string> found;
  std::error_code error;
  if (!fs::is_directory(dir, error)) return found;
  for (auto it = fs::recursive_directory_iterator(dir, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    if (it->is_directory() && IsSkipped(it->path())) {
      it.disable_recursion_pending();
    } else if (it->is_regular_file() && IsSource(it->path())) {
      found.push_back(it->path().lexically_relative(root).generic_string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// `text` with its comments blanked out and every line end kept, so that an #include in a
// comment does not count and a line keeps its number. String and character literals are
// skipped whole: "logs/*" opens no comment.
std::string WithoutComments(const std::string& text) {
  std::string out = text;
  enum { kCode, kLineComment, kBlockComment, kString, kChar } state = kCode;
  for (size_t i = 0; i < out.size(); ++i) {
    const char c = out[i];
    const char next = i + 1 < out.size() ? out[i + 1] : '\0';
    switch (state) {
      case kCode:
        if (c == '/' && next == '/') {
          state = kLineComment;
          out[i] = ' ';
        } else if (c == '/' && next == '*') {
          state = kBlockComment;
          out[i] = out[i + 1] = ' ';
          ++i;
        } else if (c == '"') {
          state = kString;
        } else if (c == '\'' && !(i > 0 && std::isalnum(static_cast<unsigned char>(out[i - 1])))) {
          state = kChar;  // not a digit separator (1'000)
        }
        break;
      case kLineComment:
        if (c == '\n') {
          state = kCode;
        } else {
          out[i] = ' ';
        }
        break;
      case kBlockComment:
        if (c == '*' && next == '/') {
          state = kCode;
          out[i] = out[i + 1] = ' ';
          ++i;
        } else if (c != '\n') {
          out[i] = ' ';
        }
        break;
      case kString:
      case kChar:
        if (c == '\\') {
          ++i;
        } else if ((state == kString && c == '"') || (state == kChar && c == '\'') || c == '\n') {
          state = kCode;
        }
        break;
    }
  }
  return out;
}

// The header an #include line names, as written with its quotes or brackets ("x.h", <x>, or
// whatever else follows the directive); false for any other line.
bool IncludedBy(const std::string& line, std::string* spelled) {
  static const std::regex directive(R"(^\s*#\s*(include|include_next|import)\b\s*(.*?)\s*$)");
  std::smatch match;
  if (!std::regex_match(line, match, directive)) return false;
  *spelled = match[2];
  return true;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// True when `path` (relative, normalised) is `folder` or below it.
bool IsWithin(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

}  // namespace

IncludeChecker::IncludeChecker(fs::path root, std::vector<FolderRule> rules)
    : root_(std::move(root)), rules_(std::move(rules)) {}

const FolderRule* IncludeChecker::RuleOf(const std::string& file) const {
  const FolderRule* best = nullptr;
  for (const FolderRule& rule : rules_) {
    if (IsWithin(fs::path(file), fs::path(rule.folder)) &&
        (best == nullptr || rule.folder.size() > best->folder.size())) {
      best = &rule;
    }
  }
  return best;
}

std::string IncludeChecker::WhereElse(const std::string& name) const {
  std::string where;
  for (const std::string& source : SourcesBelow(root_, root_)) {
    if (source == name || EndsWith(source, "/" + name))
      where += (where.empty() ? "" : ", ") + source;
  }
  return where.empty() ? "" : " (it is " + where + ")";
}

std::string IncludeChecker::CheckInclude(const std::string& file, const FolderRule& rule,
                                         const std::string& spelled) const {
  const bool resourceScript = IsResourceScript(file);
  std::string allowed = rule.folder + "/ may include its own headers";
  for (const std::string& folder : rule.mayInclude) allowed += ", those of " + folder + "/";
  allowed += ", the standard library, \"" + std::string(kGeneratedVersionHeader) + "\" and " +
             kPlatformHeader;
  if (resourceScript) {
    allowed += " (a resource script also <" + std::string(kResourceCompilerHeader) + ">)";
  }
  allowed += " only";

  const bool angled = spelled.size() >= 2 && spelled.front() == '<' && spelled.back() == '>';
  const bool quoted = spelled.size() >= 2 && spelled.front() == '"' && spelled.back() == '"';
  if (!angled && !quoted) return "names no header this check can read; " + allowed;
  const std::string name = spelled.substr(1, spelled.size() - 2);
  if (name == kPlatformHeader) return "";

  if (angled) {
    if (StandardHeaders().count(name)) return "";
    if (resourceScript && name == kResourceCompilerHeader) return "";
    return "not the standard library; " + allowed + WhereElse(name);
  }

  const fs::path named(name);
  if (named.is_absolute()) return "an absolute path; " + allowed;
  const fs::path folder(rule.folder);
  const fs::path resolved = (fs::path(file).parent_path() / named).lexically_normal();
  if (!IsWithin(resolved, folder)) return "climbs out of " + rule.folder + "/; " + allowed;
  if (fs::is_regular_file(root_ / resolved)) return "";
  // Its own headers, also from the folders below it (a published include/ folder, say).
  for (const std::string& own : SourcesBelow(root_, root_ / folder)) {
    if (EndsWith(own, "/" + named.generic_string())) return "";
  }
  for (const std::string& other : rule.mayInclude) {
    if (fs::is_regular_file(root_ / other / named)) return "";
  }
  if (name == kGeneratedVersionHeader) return "";
  return allowed + WhereElse(named.filename().string());
}

std::string IncludeChecker::CheckLine(const std::string& file, const std::string& line) const {
  const FolderRule* rule = RuleOf(file);
  if (rule == nullptr) return "no rule holds " + file;
  std::string spelled;
  if (!IncludedBy(WithoutComments(line), &spelled)) return "";
  return CheckInclude(file, *rule, spelled);
}

std::vector<std::string> IncludeChecker::CheckTree() const {
  std::vector<std::string> problems;
  for (const FolderRule& rule : rules_) {
    for (const std::string& file : SourcesBelow(root_, root_ / rule.folder)) {
      if (RuleOf(file) != &rule) continue;  // a folder below with a rule of its own
      std::ifstream in(root_ / file, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      std::istringstream code(WithoutComments(text.str()));
      std::istringstream original(text.str());
      std::string line, written;
      for (int number = 1; std::getline(code, line) && std::getline(original, written); ++number) {
        std::string spelled;
        if (!IncludedBy(line, &spelled)) continue;
        const std::string why = CheckInclude(file, rule, spelled);
        if (!why.empty()) {
          problems.push_back(file + ":" + std::to_string(number) + ": " + Trimmed(written) + ": " +
                             why);
        }
      }
    }
  }
  return problems;
}

std::vector<std::string> IncludeChecker::FoldersWithoutRule(
    const std::vector<std::string>& others) const {
  std::set<std::string> known(others.begin(), others.end());
  for (const FolderRule& rule : rules_) known.insert(fs::path(rule.folder).begin()->string());
  std::vector<std::string> unruled;
  for (const fs::directory_entry& entry : fs::directory_iterator(root_)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() || IsSkipped(entry.path()) || known.count(name)) continue;
    if (!SourcesBelow(root_, entry.path()).empty()) unruled.push_back(name);
  }
  std::sort(unruled.begin(), unruled.end());
  return unruled;
}

}  // namespace seam

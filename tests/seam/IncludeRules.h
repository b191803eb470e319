// Checked include rules: each system folder may include its own headers, the C++ standard
// library, Win32Api.h and the headers of the folders its rule names; nothing else. The check
// reads the #include lines of the sources themselves, so a header of the stand-in cannot slip
// in through a relative path or an include directory some target happens to see.
#ifndef PM_TESTS_SEAM_INCLUDERULES_H
#define PM_TESTS_SEAM_INCLUDERULES_H

#include <filesystem>
#include <string>
#include <vector>

namespace seam {

// What one folder (relative to the root, "policy") may include besides its own headers (in it
// and the folders below it), the standard library, the generated DorvaneVersion.h and
// Win32Api.h: the headers in the folders
// `mayInclude` names ("pwrlib", "policy/include"), by name, as their targets publish them.
struct FolderRule {
  std::string folder;
  std::vector<std::string> mayInclude;
};

class IncludeChecker {
 public:
  IncludeChecker(std::filesystem::path root, std::vector<FolderRule> rules);

  // Every #include of every source, header and resource script in the rules' folders that
  // breaks its folder's rule, as "file:line: #include ...: why"; empty when all keep to them.
  std::vector<std::string> CheckTree() const;

  // Why one #include line of `file` (relative to the root, in a rule's folder) breaks the
  // rule; empty when it keeps to it or is no #include line.
  std::string CheckLine(const std::string& file, const std::string& line) const;

  // The top-level folders that hold C or C++ sources below them but are neither a rule's
  // folder nor one of `others`: sources the rules would never see.
  std::vector<std::string> FoldersWithoutRule(const std::vector<std::string>& others) const;

 private:
  const FolderRule* RuleOf(const std::string& file) const;
  std::string CheckInclude(const std::string& file, const FolderRule& rule,
                           const std::string& spelled) const;
  std::string WhereElse(const std::string& name) const;

  std::filesystem::path root_;
  std::vector<FolderRule> rules_;
};

}  // namespace seam

#endif

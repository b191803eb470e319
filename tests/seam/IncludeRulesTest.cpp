// System code reaches the platform through Win32Api.h alone, and each system folder sees only
// the folders below it in the layering: read from the sources' own #include lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "IncludeRules.h"

namespace {

namespace fs = std::filesystem;

// What each system folder may include besides its own headers, the standard library and
// Win32Api.h. The service sees the update pass and the compliance check through the two
// declarations of policy/include alone, as does the logon tool.
const std::vector<seam::FolderRule> kSystemRules = {
    {"support", {}},
    {"pwrlib", {"support"}},
    {"policy", {"support", "pwrlib"}},
    {"service", {"support", "policy/include"}},
    {"logontool", {"policy/include"}},
    {"exerciser", {"pwrlib"}},
};

// The folders with sources that are not system code: the platform and its stand-in, the tests,
// the tools, and the build's templates.
const std::vector<std::string> kOtherFolders = {"platform", "tests", "tools", "cmake"};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "  " + line + "\n";
  return text;
}

TEST(IncludeRules, EverySystemSourceKeepsToItsFoldersRule) {
  const seam::IncludeChecker checker(PM_SOURCE_DIR, kSystemRules);
  const std::vector<std::string> problems = checker.CheckTree();
  EXPECT_TRUE(problems.empty()) << Joined(problems);
}

// A new folder of system code is not left outside the rules.
TEST(IncludeRules, EveryFolderWithSourcesHasARuleOrIsNotSystemCode) {
  const seam::IncludeChecker checker(PM_SOURCE_DIR, kSystemRules);
  const std::vector<std::string> unruled = checker.FoldersWithoutRule(kOtherFolders);
  EXPECT_TRUE(unruled.empty()) << Joined(unruled);
}

// Single lines in files of the real tree, as a change would bring them.
TEST(IncludeRules, ALineIsRefusedOrAcceptedByItsFoldersRule) {
  const struct {
    const char* file;
    const char* line;
    const char* refusal;  // a part of the reason; null when accepted
  } cases[] = {
      // The stand-in, however it is reached.
      {"support/PMLog.cpp", "#include \"../platform/host/control/HostControl.h\"",
       "climbs out of support/"},
      {"support/PMLog.cpp", "#include \"HostControl.h\"",
       "(it is platform/host/control/HostControl.h)"},
      {"support/PMLog.cpp", "#include \"HostWin32.h\"",
       "(it is platform/host/include/HostWin32.h)"},
      {"support/PMLog.cpp", "#include <HostControl.h>", "not the standard library"},
      {"support/PMLog.cpp", "#include \"/usr/include/unistd.h\"", "an absolute path"},
      // Another platform beside Win32Api.h.
      {"support/PMLog.cpp", "#include <unistd.h>", "not the standard library"},
      {"support/PMLog.cpp", "#include <windows.h>", "not the standard library"},
      {"support/PMLog.cpp", "#include PLATFORM_HEADER", "names no header"},
      // Upwards in the layering.
      {"support/PMLog.cpp", "#include \"PwrScheme.h\"", "(it is pwrlib/PwrScheme.h)"},
      {"pwrlib/PwrScheme.cpp", "#include \"PolicySettings.h\"", "pwrlib/ may include"},
      {"service/Install.cpp", "#include \"PolicySettings.h\"", "(it is policy/PolicySettings.h)"},
      {"service/Install.cpp", "#include \"PwrScheme.h\"", "service/ may include"},
      {"logontool/Main.cpp", "#include \"RegKey.h\"", "logontool/ may include"},
      {"exerciser/SettingsDialog.cpp", "#include \"PolicyUpdate.h\"", "exerciser/ may include"},
      // An allowed header by a path that climbs out is still refused.
      {"policy/PolicyPass.cpp", "#include \"../pwrlib/PwrScheme.h\"", "climbs out of policy/"},
      {"exerciser/SettingsDialog.cpp", "#include \"DorvaneVersion.h\"", nullptr},

      {"support/PMLog.cpp", "#include \"Win32Api.h\"", nullptr},
      {"support/PMLog.cpp", "  #  include <cstdio>  // printf", nullptr},
      {"support/PMLog.cpp", "#include <string.h>", nullptr},
      {"support/PMLog.cpp", "#include \"RegKey.h\"", nullptr},
      {"support/PMLog.cpp", "// #include \"HostControl.h\"", nullptr},
      {"pwrlib/PwrScheme.cpp", "#include \"PMObject.h\"", nullptr},
      {"policy/PolicyPass.cpp", "#include \"PolicyUpdate.h\"", nullptr},
      {"policy/PolicyPass.cpp", "#include \"include/PolicyUpdate.h\"", nullptr},
      {"policy/PolicyPass.cpp", "#include \"PwrScheme.h\"", nullptr},
      {"service/Install.cpp", "#include \"PolicyUpdate.h\"", nullptr},
      {"service/Install.cpp", "#include \"RegKey.h\"", nullptr},
      {"exerciser/Caskwell.rc", "#include <windows.h>", nullptr},
      {"exerciser/Caskwell.rc", "#include \"DorvaneVersion.h\"", nullptr},
      {"exerciser/Caskwell.rc", "#include \"resource.h\"", nullptr},
  };
  const seam::IncludeChecker checker(PM_SOURCE_DIR, kSystemRules);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + ": " + c.line);
    const std::string why = checker.CheckLine(c.file, c.line);
    if (c.refusal == nullptr) {
      EXPECT_EQ("", why);
    } else {
      EXPECT_NE(std::string::npos, why.find(c.refusal)) << why;
    }
  }
}

// A whole tree: the walk finds the one include that breaks the rule, names its file and line,
// and is not fooled by comments or by a string that looks like one.
TEST(IncludeRules, TheTreeCheckNamesTheFileAndLineOfEachRefusedInclude) {
  const fs::path root = fs::path(::testing::TempDir()) / "include_rules_tree";
  fs::remove_all(root);
  const auto write = [&root](const std::string& file, const std::string& text) {
    fs::create_directories((root / file).parent_path());
    std::ofstream(root / file, std::ios::binary) << text;
  };
  write("platform/host/control/HostControl.h", "");
  write("support/RegKey.h", "#include <string>\n#include \"Win32Api.h\"\n");
  write("support/PMLog.cpp",
        "#include \"RegKey.h\"\n"
        "/* #include \"HostControl.h\"\n"
        "   #include <unistd.h> */\n"
        "const char* kLogs = \"logs/*\";\n"
        "#include \"../platform/host/control/HostControl.h\"  // see */\n"
        "int kBig = 1'000; // #include <unistd.h>\n"
        "#include <vector>\n");
  write("tools/Tool.cpp", "#include \"HostControl.h\"\n");  // not system code

  const seam::IncludeChecker checker(root, {{"support", {}}});
  const std::vector<std::string> problems = checker.CheckTree();
  ASSERT_EQ(1u, problems.size()) << Joined(problems);
  EXPECT_EQ(0u, problems[0].find("support/PMLog.cpp:5: #include "
                                 "\"../platform/host/control/HostControl.h\"  // see */: climbs "
                                 "out of support/"))
      << problems[0];
  EXPECT_EQ((std::vector<std::string>{"platform"}), checker.FoldersWithoutRule({"tools"}));
  fs::remove_all(root);
}

}  // namespace

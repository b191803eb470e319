// The message table of Hollin.exe, which the event source names as its message file: it holds
// exactly the events the programs report, and FormatMessage, as Event Viewer does, makes each
// event's text of its message file's line (service/HollinEvents.mc) and its insertion strings.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "Files.h"
#include "PMEvents.h"
#include "Programs.h"

namespace {

std::string HollinPath() { return winetest::SystemDir() + "\\Hollin.exe"; }

// Each message's one line of text in the message file, by full identifier.
std::map<DWORD, std::string> SourceTexts() {
  std::string source;
  EXPECT_TRUE(winetest::ReadFileBytes(
      winetest::WinePathOf(PM_SOURCE_DIR "/service/HollinEvents.mc"), &source));
  const std::map<std::string, DWORD> severity = {
      {"Informational", 1}, {"Warning", 2}, {"Error", 3}};
  std::map<DWORD, std::string> texts;
  DWORD number = 0;
  DWORD bits = 0;
  size_t at = 0;
  while (at < source.size()) {
    size_t end = source.find('\n', at);
    if (end == std::string::npos) end = source.size();
    std::string line = source.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("MessageId=", 0) == 0) number = std::stoul(line.substr(10));
    if (line.rfind("Severity=", 0) == 0) bits = severity.at(line.substr(9));
    if (line.rfind("Language=", 0) == 0) {
      end = source.find('\n', at);
      std::string text = source.substr(at, end - at);
      if (!text.empty() && text.back() == '\r') text.pop_back();
      texts[(bits << 30) | number] = text;
      at = end + 1;
    }
  }
  return texts;
}

// What FormatMessage makes of a line with the insertion strings "<1>", "<2>", ...: each %k
// replaced, %n a line break, %0 the end without one.
std::string Formatted(const std::string& line) {
  std::string text;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '%' || i + 1 == line.size()) {
      text += line[i];
    } else if (line[i + 1] == '0') {
      break;
    } else if (line[i + 1] == 'n') {
      text += "\r\n";
      ++i;
    } else {
      size_t digits = i + 1;
      while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) {
        ++digits;
      }
      text += "<" + line.substr(i + 1, digits - i - 1) + ">";
      i = digits - 1;
    }
  }
  return text;
}

class HollinMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(HollinPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_) << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  HMODULE module_ = nullptr;
};

TEST_F(HollinMessages, EveryEventHasItsTextWithItsInsertionStrings) {
  const std::map<DWORD, std::string> source = SourceTexts();
  ASSERT_EQ(std::size(pm_events::kAll), source.size());
  for (const PMEvent& event : pm_events::kAll) {
    SCOPED_TRACE(pm_events::ShownId(event));
    ASSERT_EQ(1u, source.count(event.id));
    std::vector<std::string> strings;
    std::vector<DWORD_PTR> arguments;
    for (WORD i = 1; i <= event.strings; ++i) strings.push_back("<" + std::to_string(i) + ">");
    for (const std::string& text : strings) {
      arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
    }
    char buffer[2048];
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module_, event.id,
        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer, sizeof buffer,
        reinterpret_cast<va_list*>(arguments.empty() ? nullptr : arguments.data()));
    ASSERT_NE(0u, length) << "no text, error " << GetLastError();
    EXPECT_EQ(Formatted(source.at(event.id)), std::string(buffer, length));
  }
}

// The table holds the events the code reports and no other message.
TEST_F(HollinMessages, TheTableHoldsExactlyTheEventsOfTheCode) {
  HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(11));  // 11: messages
  ASSERT_NE(nullptr, found) << GetLastError();
  const auto* table =
      static_cast<const MESSAGE_RESOURCE_DATA*>(LockResource(LoadResource(module_, found)));
  ASSERT_NE(nullptr, table);
  std::vector<DWORD> inTable;
  for (DWORD block = 0; block < table->NumberOfBlocks; ++block) {
    for (DWORD id = table->Blocks[block].LowId; id <= table->Blocks[block].HighId; ++id) {
      inTable.push_back(id);
    }
  }
  std::vector<DWORD> inCode;
  for (const PMEvent& event : pm_events::kAll) inCode.push_back(event.id);
  std::sort(inTable.begin(), inTable.end());
  std::sort(inCode.begin(), inCode.end());
  EXPECT_EQ(inCode, inTable);
}

}  // namespace

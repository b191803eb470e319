// Test fixture over the host stand-in: every test starts from an empty registry, the
// default capabilities, an administrator and no injected failures, with debug echo off.
#ifndef PM_TESTS_HOSTFIXTURE_H
#define PM_TESTS_HOSTFIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "HostControl.h"

class HostFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    host::SetDebugEcho(false);
  }

  // Seeds the registry from .reg text; the editor header line may be left out.
  static void ImportReg(const std::string& text) {
    static const std::string kHeader = "Windows Registry Editor Version 5.00";
    const std::string full =
        text.compare(0, kHeader.size(), kHeader) == 0 ? text : kHeader + "\n\n" + text;
    std::string error;
    ASSERT_TRUE(host::ImportRegText(full, &error)) << error << "\n" << full;
  }

  // The value's data, or the empty text when it is absent.
  static std::string ValueBytes(HKEY root, const std::string& path, const std::string& name) {
    host::RegValue value;
    if (!host::ReadValue(root, path, name, &value)) return std::string();
    return std::string(value.data.begin(), value.data.end());
  }
};

#endif

#pragma once

// A test fixture for opening firmware files: a private home and temporary folder per test, and a
// check after every test that opening left nothing in the temporary folder.

#include "firmware/dwndoc.h"
#include "fixtures.h"
#include "platform/paths.h"
#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class FirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tempDir_ = platform::TempDir();
    ASSERT_FALSE(tempDir_.empty());
    before_ = testsupport::ListTree(env_.TmpDir());
    inputs_ = env_.Root() / "in";
    std::filesystem::create_directories(inputs_);
  }

  void TearDown() override {
    EXPECT_EQ(testsupport::ListTree(env_.TmpDir()), before_)
        << "opening left something in the temporary folder";
  }

  // Writes `bytes` as the input file `name` and opens it.
  std::unique_ptr<TDownDocFile> Open(const std::string& name, const std::string& bytes) {
    fixtures::Write(inputs_ / name, bytes);
    return std::make_unique<TDownDocFile>((inputs_ / name).string());
  }

  static std::string Data(const TDownDocFile& doc) {
    if (doc.FDataSize == 0) return std::string();
    return std::string(reinterpret_cast<const char*>(doc.FData.get()), doc.FDataSize);
  }

  testsupport::TempEnv env_;
  std::filesystem::path tempDir_;
  std::filesystem::path inputs_;
  std::vector<std::string> before_;
};

#include "platform/record_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace velto {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class RecordFile : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velto_record_file_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  static std::string read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static void write(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }

  fs::path dir_;
};

TEST_F(RecordFile, TemporaryFileLiesBesideTheTarget) {
  EXPECT_EQ(temporary_path_for("out/run.json"), "out/run.json.tmp");
  EXPECT_EQ(temporary_path_for("run.json"), "run.json.tmp");
}

TEST_F(RecordFile, PathsThatCannotBeCreatedAreRefusedWithTheirReason) {
  write(path("plain"), "x");
  fs::create_directories(path("taken"));
  struct Case {
    std::string target;
    std::string reason;
  };
  const Case cases[] = {
      {path("missing/run.json"), "No such file or directory"},
      {path("taken"), "Is a directory"},
      {path("plain/run.json"), ""}, // below a regular file: the OS's own word
      {"", "No such file or directory"},
  };
  for (const Case& c : cases) {
    const std::string reason = check_writable_file(c.target);
    EXPECT_FALSE(reason.empty()) << c.target;
    if (!c.reason.empty()) {
      EXPECT_EQ(reason, c.reason) << c.target;
    }
    EXPECT_FALSE(fs::exists(temporary_path_for(c.target))) << c.target;
  }
}

TEST_F(RecordFile, WritablePathPassesAndLeavesNothingBehind) {
  EXPECT_EQ(check_writable_file(path("run.json")), "");
  EXPECT_FALSE(fs::exists(path("run.json")));
  EXPECT_FALSE(fs::exists(path("run.json.tmp")));
  // An existing file is checked without being touched.
  write(path("old.json"), "old");
  EXPECT_EQ(check_writable_file(path("old.json")), "");
  EXPECT_EQ(read(path("old.json")), "old");
}

TEST_F(RecordFile, ReplaceWritesTheWholeTextOverTheOldFile) {
  write(path("run.json"), "an older and longer record");
  EXPECT_EQ(replace_file(path("run.json"), "{}\n"), "");
  EXPECT_EQ(read(path("run.json")), "{}\n");
  EXPECT_FALSE(fs::exists(path("run.json.tmp")));
  EXPECT_EQ(replace_file(path("new.json"), std::string(100000, 'a')), "");
  EXPECT_EQ(read(path("new.json")).size(), 100000u);
}

TEST_F(RecordFile, FailedReplaceLeavesTheOldFileAndNoTemporary) {
  // A directory where the temporary file would go makes the write fail.
  write(path("run.json"), "old");
  fs::create_directories(path("run.json.tmp"));
  EXPECT_NE(replace_file(path("run.json"), "new"), "");
  EXPECT_EQ(read(path("run.json")), "old");
  EXPECT_EQ(replace_file(path("missing/run.json"), "new"), "No such file or directory");
  fs::create_directories(path("dir.json"));
  EXPECT_EQ(replace_file(path("dir.json"), "new"), "Is a directory");
}

} // namespace
} // namespace velto

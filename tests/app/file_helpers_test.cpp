#include "app/file_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Relative(const std::vector<fs::path>& paths, const fs::path& base) {
  std::vector<std::string> names;
  for (const fs::path& path : paths) names.push_back(fs::relative(path, base).string());
  return names;
}

TEST(FindFiles, OwnFilesFirstThenSubFoldersIgnoringCase) {
  test::Sandbox sandbox;
  for (const char* name :
       {"b/deep/x.Ass", "a.ASS", "b/y.ass", "note.txt", "b/z.ass.bak", "c.ass"}) {
    ASSERT_TRUE(sandbox.WriteFile(name, "x"));
  }
  fs::create_directories(sandbox / "folder.ass");
  fs::create_symlink(sandbox.Path(), sandbox / "b" / "loop");

  std::vector<std::string> found = Relative(FindFiles(sandbox.Path(), ".ass", {}), sandbox.Path());
  ASSERT_EQ(found.size(), 4u);
  // Within one folder the file system's order is kept, whatever it is.
  std::sort(found.begin(), found.begin() + 2);
  EXPECT_EQ(found, (std::vector<std::string>{"a.ASS", "c.ass", "b/y.ass", "b/deep/x.Ass"}));

  EXPECT_EQ(Relative(FindFiles("", ".txt", sandbox.Path()), sandbox.Path()),
            std::vector<std::string>{"note.txt"});
  EXPECT_TRUE(FindFiles(sandbox / "missing", ".ass", {}).empty());
}

TEST(WriteFileAtomically, ReplacesWholeFilesAndLeavesNothingBehind) {
  test::Sandbox sandbox;
  ASSERT_TRUE(sandbox.WriteFile("f.ass", "old"));
  EXPECT_TRUE(WriteFileAtomically(sandbox / "f.ass", "new"));
  EXPECT_EQ(ReadFileBytes(sandbox / "f.ass"), "new");
  EXPECT_FALSE(WriteFileAtomically(sandbox / "missing" / "f.ass", "x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.Path()), fs::directory_iterator()), 1);
  EXPECT_EQ(ReadFileBytes(sandbox / "none"), std::nullopt);
  EXPECT_EQ(ReadFileBytes(sandbox.Path()), std::nullopt);
}

TEST(ReadFileBuffer, ReadsWholeFilesWhateverTheirSizeSays) {
  test::Sandbox sandbox;
  std::string large(300 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i % 253);
  struct Case {
    std::string name;
    fs::path path;
    std::optional<std::string> bytes;  // written first; nullopt: not readable
  };
  const std::vector<Case> cases = {
      {.name = "empty", .path = sandbox / "empty", .bytes = ""},
      {.name = "one byte", .path = sandbox / "one", .bytes = "x"},
      {.name = "large", .path = sandbox / "large", .bytes = large},
      {.name = "missing", .path = sandbox / "none", .bytes = std::nullopt},
      {.name = "folder", .path = sandbox.Path(), .bytes = std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.bytes) {
      ASSERT_TRUE(sandbox.WriteFile(c.path.filename(), *c.bytes));
    }
    const std::optional<FileBuffer> read = ReadFileBuffer(c.path);
    ASSERT_EQ(read.has_value(), c.bytes.has_value());
    if (read) {
      EXPECT_TRUE(read->View() == *c.bytes);
    }
  }
  // A file whose size reads 0 while it has bytes (as under /proc) is read on.
  const std::optional<FileBuffer> status = ReadFileBuffer("/proc/self/status");
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->View().starts_with("Name:"));
  EXPECT_GT(status->View().size(), 100u);
}

// A file written in pieces replaces the old one only whole, on Commit.
TEST(AtomicFileWriter, ReplacesTheFileOnlyOnCommit) {
  struct Case {
    std::string name;
    std::string folder;  // below the sandbox; "missing" is never made
    bool commit;
    std::string expected;  // the file afterwards ("" when there is none)
  };
  const std::vector<Case> cases = {
      {.name = "committed", .folder = "a", .commit = true, .expected = "one two"},
      {.name = "dropped", .folder = "b", .commit = false, .expected = "old"},
      {.name = "unwritable", .folder = "missing", .commit = true, .expected = ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Sandbox sandbox;
    if (c.folder != "missing") {
      ASSERT_TRUE(sandbox.WriteFile(fs::path(c.folder) / "f.ass", "old"));
    }
    const fs::path path = sandbox / c.folder / "f.ass";
    {
      AtomicFileWriter writer(path);
      const bool appended = writer.Append("one") && writer.Append(" two");
      EXPECT_EQ(appended, c.folder != "missing");
      if (c.commit) {
        EXPECT_EQ(writer.Commit(), c.folder != "missing");
      }
    }
    EXPECT_EQ(test::ReadWholeFile(path), c.expected);
    if (c.folder != "missing") {
      EXPECT_EQ(std::distance(fs::directory_iterator(sandbox / c.folder), fs::directory_iterator()),
                1);
    }
  }
}

TEST(FileHelpersTest, DeleteFileTreatsMissingFileAsDone) {
  test::Sandbox sandbox;
  ASSERT_TRUE(sandbox.WriteFile("S1E1.视频", "bytes"));
  const std::string path = (sandbox / "S1E1.视频").string();
  EXPECT_TRUE(DeleteFile(path));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(DeleteFile(path));
  // A folder is not a file: it stays, and that is reported.
  std::filesystem::create_directory(sandbox / "folder");
  EXPECT_FALSE(DeleteFile((sandbox / "folder").string()));
  EXPECT_TRUE(std::filesystem::exists(sandbox / "folder"));
}

TEST(FileExistsTest, TrueForEntriesThatAreNotFolders) {
  test::Sandbox sandbox;
  ASSERT_TRUE(sandbox.WriteFile("video.mp4", "x"));
  ASSERT_TRUE(sandbox.WriteFile("folder/inside", ""));
  std::filesystem::create_symlink(sandbox / "video.mp4", sandbox / "link");
  std::filesystem::create_symlink(sandbox / "gone", sandbox / "dangling");
  const std::vector<std::pair<std::string, bool>> cases = {
      {"video.mp4", true}, {"folder/inside", true}, {"link", true},
      {"folder", false},   {"missing", false},      {"dangling", false},
  };
  for (const auto& [name, exists] : cases) {
    EXPECT_EQ(FileExists((sandbox / name).string()), exists) << name;
  }
  EXPECT_FALSE(FileExists(""));
}

}  // namespace
}  // namespace korvid

#include "transfer/file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace korvid {
namespace {

// What the direct writes asked for. The hooks are plain functions, so they
// keep it here; each case starts it afresh.
std::atomic<int> g_directWrites{0};
std::atomic<int> g_misaligned{0};
std::atomic<int> g_directFailure{0};  // errno every direct write fails with; 0: none

// A cached descriptor stands in for a direct one, so the case runs on any
// file system, and every write is checked for what O_DIRECT demands.
int OpenLikeDirect(const char* path) {
  return ::open(path, O_WRONLY | O_CLOEXEC);
}

int RefuseOpen(const char*) {
  errno = EINVAL;
  return -1;
}

long CheckedWrite(int fd, const void* data, std::size_t size, std::int64_t offset) {
  ++g_directWrites;
  constexpr auto kBlock = static_cast<std::int64_t>(FileWriter::kBlockBytes);
  if (offset % kBlock != 0 || size % FileWriter::kBlockBytes != 0 ||
      reinterpret_cast<std::uintptr_t>(data) % FileWriter::kBlockBytes != 0) {
    ++g_misaligned;
  }
  if (g_directFailure != 0) {
    errno = g_directFailure;
    return -1;
  }
  return ::pwrite(fd, data, size, offset);
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 4096) % 253);
  return bytes;
}

// Whatever the offset, the piece sizes and the file system's answer, the file
// holds the old bytes before the offset and the stream after it, and every
// direct write is aligned.
TEST(FileWriter, WritesTheStreamAfterTheOffsetAlignedOrThroughTheCache) {
  constexpr std::size_t kMiB = FileWriter::kBufferBytes;
  struct Case {
    std::string name;
    std::int64_t offset = 0;
    std::size_t bytes = 0;
    std::vector<std::size_t> pieces;  // repeated until the bytes are in
    FileWriter::Io io;
    int directFailure = 0;
    bool direct = true;        // direct writes expected
    bool ok = true;            // Finish's answer
    std::int64_t fileEnd = 0;  // -1: offset + bytes
  };
  const FileWriter::Io checked{.openDirect = OpenLikeDirect, .pwriteDirect = CheckedWrite};
  const std::vector<Case> cases = {
      {.name = "from the start, many buffers",
       .bytes = 5 * kMiB + 1234,
       .pieces = {kMiB / 2 + 1, 17, 256 * 1024},
       .io = checked,
       .fileEnd = -1},
      {.name = "resumed at an unaligned offset",
       .offset = 5000,
       .bytes = 3 * kMiB,
       .pieces = {65536, 1, 4095},
       .io = checked,
       .fileEnd = -1},
      {.name = "shorter than a block",
       .offset = 100,
       .bytes = 10,
       .pieces = {3},
       .io = checked,
       .direct = false,
       .fileEnd = -1},
      {.name = "direct open refused",
       .offset = 7,
       .bytes = 2 * kMiB + 9,
       .pieces = {kMiB + 3},
       .io = {.openDirect = RefuseOpen, .pwriteDirect = CheckedWrite},
       .direct = false,
       .fileEnd = -1},
      {.name = "direct writes refused when they come",
       .bytes = 2 * kMiB + 9,
       .pieces = {100000},
       .io = checked,
       .directFailure = EINVAL,
       .fileEnd = -1},
      {.name = "disk full",
       .offset = 4096,
       .bytes = 3 * kMiB,
       .pieces = {kMiB},
       .io = checked,
       .directFailure = ENOSPC,
       .ok = false,
       .fileEnd = 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_directWrites = 0;
    g_misaligned = 0;
    g_directFailure = c.directFailure;
    test::Sandbox sandbox;
    const std::string old = Pattern(static_cast<std::size_t>(c.offset) + 50);
    ASSERT_TRUE(sandbox.WriteFile("part", std::string(old.rbegin(), old.rend())));
    const std::string path = (sandbox / "part").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string stream = Pattern(c.bytes);
    bool appended = true;
    {
      FileWriter writer(c.io);
      ASSERT_TRUE(writer.Start(fd, c.offset, true));
      for (std::size_t at = 0, i = 0; at < stream.size() && appended; ++i) {
        const std::size_t piece = std::min(c.pieces[i % c.pieces.size()], stream.size() - at);
        appended = writer.Append(stream.data() + at, piece);
        at += piece;
      }
      EXPECT_EQ(writer.Finish(), c.ok);
      const std::int64_t end =
          c.fileEnd < 0 ? c.offset + static_cast<std::int64_t>(c.bytes) : c.fileEnd;
      EXPECT_EQ(writer.End(), end);
      EXPECT_EQ(writer.SystemError(), c.ok ? 0 : c.directFailure);
      EXPECT_EQ(writer.WritesDirect(),
                c.io.openDirect == OpenLikeDirect && c.directFailure != EINVAL);
      ASSERT_EQ(::ftruncate(fd, end), 0);
    }
    ::close(fd);
    EXPECT_EQ(g_misaligned, 0);
    EXPECT_EQ(g_directWrites > 0, c.direct);
    const std::string file = sandbox.ReadFile("part");
    const std::string before(old.rbegin(), old.rend());
    EXPECT_TRUE(file.compare(0, static_cast<std::size_t>(c.offset), before, 0,
                             static_cast<std::size_t>(c.offset)) == 0);
    if (c.ok) {
      EXPECT_TRUE(file.substr(static_cast<std::size_t>(c.offset)) == stream);
    }
  }
  g_directFailure = 0;
}

}  // namespace
}  // namespace korvid

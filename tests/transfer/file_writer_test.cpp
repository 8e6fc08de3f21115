#include "transfer/file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace korvid {
namespace {

// What the writes and the flush met. The hooks are plain functions, so they
// keep it here; each case starts it afresh.
std::atomic<int> g_writes{0};
std::atomic<int> g_writeFailure{0};  // errno of the second write on; 0: none
std::atomic<int> g_syncs{0};
std::atomic<int> g_syncFailure{0};  // errno of the flush; 0: none

long CountedWrite(int fd, const void* data, std::size_t size, std::int64_t offset) {
  if (++g_writes > 1 && g_writeFailure != 0) {
    errno = g_writeFailure;
    return -1;
  }
  return ::pwrite(fd, data, size, offset);
}

int CountedSync(int fd) {
  ++g_syncs;
  if (g_syncFailure != 0) {
    errno = g_syncFailure;
    return -1;
  }
  return ::fdatasync(fd);
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 4096) % 253);
  return bytes;
}

// Pages of the file's first bytes still in the page cache.
std::size_t ResidentPages(int fd, std::size_t bytes) {
  void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return 0;
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((bytes + page - 1) / page);
  std::size_t count = 0;
  if (::mincore(map, bytes, resident.data()) == 0) {
    for (unsigned char flags : resident) count += flags & 1U;
  }
  ::munmap(map, bytes);
  return count;
}

bool OnTmpfs(int fd) {
  struct statfs info {};
  return ::fstatfs(fd, &info) == 0 && info.f_type == TMPFS_MAGIC;
}

// Whatever the offset, the piece sizes and the disk's answer, the file holds
// the old bytes before the offset and the stream after it; a failure reads as
// one, and a failed flush trusts none of the run's bytes.
TEST(FileWriter, WritesTheStreamAfterTheOffsetAndFlushesIt) {
  constexpr std::size_t kMiB = FileWriter::kBufferBytes;
  struct Case {
    std::string name;
    std::int64_t offset = 0;
    std::size_t bytes = 0;
    std::vector<std::size_t> pieces;  // repeated until the bytes are in
    int writeFailure = 0;
    int syncFailure = 0;
    bool ok = true;            // Finish's answer
    std::int64_t fileEnd = 0;  // -1: offset + bytes
  };
  const std::vector<Case> cases = {
      {.name = "from the start, many buffers",
       .bytes = 5 * kMiB + 1234,
       .pieces = {kMiB / 2 + 1, 17, 256 * 1024},
       .fileEnd = -1},
      {.name = "resumed at an unaligned offset",
       .offset = 5000,
       .bytes = 3 * kMiB,
       .pieces = {65536, 1, 4095},
       .fileEnd = -1},
      {.name = "shorter than a block", .offset = 100, .bytes = 10, .pieces = {3}, .fileEnd = -1},
      {.name = "nothing to write", .offset = 100, .pieces = {1}, .fileEnd = 100},
      {.name = "disk full on the second write",
       .offset = 4096,
       .bytes = 3 * kMiB,
       .pieces = {kMiB},
       .writeFailure = ENOSPC,
       .ok = false,
       .fileEnd = 4096 + static_cast<std::int64_t>(kMiB)},
      {.name = "the disk refuses the written bytes",
       .offset = 7,
       .bytes = 2 * kMiB + 9,
       .pieces = {kMiB + 3},
       .syncFailure = EIO,
       .ok = false,
       .fileEnd = 7},
      {.name = "no flush offered for the file",
       .bytes = 2 * kMiB,
       .pieces = {100000},
       .syncFailure = EINVAL,
       .fileEnd = -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_writes = 0;
    g_writeFailure = c.writeFailure;
    g_syncs = 0;
    g_syncFailure = c.syncFailure;
    test::Sandbox sandbox;
    const std::string old = Pattern(static_cast<std::size_t>(c.offset) + 50);
    ASSERT_TRUE(sandbox.WriteFile("part", std::string(old.rbegin(), old.rend())));
    const std::string path = (sandbox / "part").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string stream = Pattern(c.bytes);
    const std::int64_t end =
        c.fileEnd < 0 ? c.offset + static_cast<std::int64_t>(c.bytes) : c.fileEnd;
    {
      FileWriter writer({.writeAt = CountedWrite, .syncData = CountedSync});
      ASSERT_TRUE(writer.Start(fd, c.offset, true));
      bool appended = true;
      for (std::size_t at = 0, i = 0; at < stream.size() && appended; ++i) {
        const std::size_t piece = std::min(c.pieces[i % c.pieces.size()], stream.size() - at);
        appended = writer.Append(stream.data() + at, piece);
        at += piece;
      }
      EXPECT_EQ(writer.Finish(), c.ok);
      EXPECT_EQ(writer.End(), end);
      EXPECT_EQ(writer.SystemError(), c.ok ? 0 : c.writeFailure + c.syncFailure);
      EXPECT_EQ(g_syncs, c.writeFailure == 0 && c.bytes > 0 ? 1 : 0);
      ASSERT_EQ(::ftruncate(fd, end), 0);
    }
    ::close(fd);
    const std::string file = sandbox.ReadFile("part");
    const std::string before(old.rbegin(), old.rend());
    EXPECT_TRUE(file.compare(0, static_cast<std::size_t>(c.offset), before, 0,
                             static_cast<std::size_t>(c.offset)) == 0);
    const auto written = static_cast<std::size_t>(end - c.offset);
    EXPECT_TRUE(file.substr(static_cast<std::size_t>(c.offset)) == stream.substr(0, written));
  }
  g_writeFailure = 0;
  g_syncFailure = 0;
}

// A finished download leaves the cache as it found it, and a target that is
// no regular file (/dev/null) is written without positions or a flush.
TEST(FileWriter, LeavesNoFinishedBytesInTheCacheAndWritesOtherTargetsInOrder) {
  constexpr std::size_t kBytes = 8 * FileWriter::kBufferBytes;
  const std::string stream = Pattern(kBytes);
  test::Sandbox sandbox;
  const std::string path = (sandbox / "part").string();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  {
    FileWriter writer;
    ASSERT_TRUE(writer.Start(fd, 0, true));
    ASSERT_TRUE(writer.Append(stream.data(), stream.size()));
    ASSERT_TRUE(writer.Finish());
  }
  if (!OnTmpfs(fd)) {
    EXPECT_EQ(ResidentPages(fd, kBytes), 0U);
  }
  ::close(fd);
  EXPECT_TRUE(sandbox.ReadFile("part") == stream);

  g_writes = 0;
  g_syncs = 0;
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(null, 0);
  FileWriter writer({.writeAt = CountedWrite, .syncData = CountedSync});
  ASSERT_TRUE(writer.Start(null, 123, false));
  ASSERT_TRUE(writer.Append(stream.data(), stream.size()));
  EXPECT_TRUE(writer.Finish());
  EXPECT_EQ(writer.End(), 123 + static_cast<std::int64_t>(kBytes));
  EXPECT_EQ(g_writes, 0);
  EXPECT_EQ(g_syncs, 0);
  ::close(null);
}

}  // namespace
}  // namespace korvid

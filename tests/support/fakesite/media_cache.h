#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "support/fakesite/fake_site.h"

namespace korvid::fakesite {

// Small real media files made once by the ffmpeg program from its built-in
// test sources and kept in a cache folder shared by all test processes.
// Thread-safe.
class MediaCache {
 public:
  explicit MediaCache(std::filesystem::path folder);

  void SetFolder(std::filesystem::path folder);
  // The progressive file padded with zero bytes up to this size (benchmarks
  // of big downloads); 0, the default, serves it as made.
  void SetProgressiveSize(std::int64_t bytes);
  // The file's bytes, made on first use; empty when ffmpeg failed.
  [[nodiscard]] std::string Bytes(MediaKind kind);
  [[nodiscard]] std::filesystem::path PathOf(MediaKind kind) const;

 private:
  [[nodiscard]] bool Make(MediaKind kind, const std::filesystem::path& target) const;

  mutable std::mutex m_mutex;
  std::filesystem::path m_folder;
  std::map<MediaKind, std::string> m_bytes;
  std::int64_t m_progressiveSize = 0;
};

[[nodiscard]] const char* ContentTypeOf(MediaKind kind);

}  // namespace korvid::fakesite

#include "support/fakesite/media_cache.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

extern char** environ;

namespace korvid::fakesite {

namespace {

// Bump the version when the recipes change so stale caches are not reused.
constexpr const char* kVersion = "v1";
constexpr const char* kVideoSource = "testsrc2=size=160x90:rate=25:duration=2";
constexpr const char* kAudioSource = "sine=frequency=440:sample_rate=44100:duration=2";

std::vector<std::string> RecipeFor(MediaKind kind) {
  const std::vector<std::string> videoCodec = {"-c:v",      "libx264",  "-preset",
                                               "ultrafast", "-pix_fmt", "yuv420p"};
  const std::vector<std::string> audioCodec = {"-c:a", "aac", "-b:a", "48k"};
  std::vector<std::string> args;
  switch (kind) {
    case MediaKind::VideoOnly:
      args = {"-f", "lavfi", "-i", kVideoSource};
      args.insert(args.end(), videoCodec.begin(), videoCodec.end());
      args.insert(args.end(), {"-an", "-movflags", "+faststart", "-f", "mp4"});
      break;
    case MediaKind::AudioOnly:
      args = {"-f", "lavfi", "-i", kAudioSource};
      args.insert(args.end(), audioCodec.begin(), audioCodec.end());
      args.insert(args.end(), {"-vn", "-movflags", "+faststart", "-f", "mp4"});
      break;
    case MediaKind::Progressive:
      args = {"-f", "lavfi", "-i", kVideoSource, "-f", "lavfi", "-i", kAudioSource};
      args.insert(args.end(), videoCodec.begin(), videoCodec.end());
      args.insert(args.end(), audioCodec.begin(), audioCodec.end());
      args.insert(args.end(), {"-shortest", "-movflags", "+faststart", "-f", "mp4"});
      break;
    case MediaKind::Image:
      args = {"-f", "lavfi", "-i", "testsrc2=size=64x36", "-frames:v", "1", "-f", "mjpeg"};
      break;
    case MediaKind::QrImage:
      args = {"-f", "lavfi", "-i", "testsrc2=size=64x64", "-frames:v", "1", "-f", "gif"};
      break;
  }
  return args;
}

const char* FileNameOf(MediaKind kind) {
  switch (kind) {
    case MediaKind::VideoOnly:
      return "video-only.mp4";
    case MediaKind::AudioOnly:
      return "audio-only.m4a";
    case MediaKind::Progressive:
      return "progressive.mp4";
    case MediaKind::Image:
      return "image.jpg";
    case MediaKind::QrImage:
      return "qrcode.gif";
  }
  return "unknown";
}

int RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

const char* ContentTypeOf(MediaKind kind) {
  switch (kind) {
    case MediaKind::VideoOnly:
      return "video/mp4";
    case MediaKind::AudioOnly:
      return "audio/mp4";
    case MediaKind::Progressive:
      return "video/mp4";
    case MediaKind::Image:
      return "image/jpeg";
    case MediaKind::QrImage:
      return "image/gif";
  }
  return "application/octet-stream";
}

MediaCache::MediaCache(std::filesystem::path folder) : m_folder(std::move(folder)) {}

void MediaCache::SetFolder(std::filesystem::path folder) {
  std::lock_guard lock(m_mutex);
  m_folder = std::move(folder);
  m_bytes.clear();
}

void MediaCache::SetProgressiveSize(std::int64_t bytes) {
  std::lock_guard lock(m_mutex);
  m_progressiveSize = bytes;
  m_bytes.erase(MediaKind::Progressive);
}

std::filesystem::path MediaCache::PathOf(MediaKind kind) const {
  std::lock_guard lock(m_mutex);
  return m_folder / (std::string(kVersion) + "-" + FileNameOf(kind));
}

std::string MediaCache::Bytes(MediaKind kind) {
  const std::filesystem::path target = PathOf(kind);
  std::lock_guard lock(m_mutex);
  if (const auto it = m_bytes.find(kind); it != m_bytes.end()) {
    return it->second;
  }
  std::error_code ec;
  if (!std::filesystem::exists(target, ec) && !Make(kind, target)) {
    return {};
  }
  std::string bytes = ReadAll(target);
  if (kind == MediaKind::Progressive && !bytes.empty() &&
      static_cast<std::int64_t>(bytes.size()) < m_progressiveSize) {
    bytes.resize(static_cast<std::size_t>(m_progressiveSize), '\0');
  }
  if (!bytes.empty()) {
    m_bytes[kind] = bytes;
  }
  return bytes;
}

// Several test processes may get here at once: each writes a file of its
// own and renames it into place, which replaces atomically, so a reader only
// ever sees a whole file.
bool MediaCache::Make(MediaKind kind, const std::filesystem::path& target) const {
  static std::atomic<int> counter{0};
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  const std::filesystem::path temp =
      target.parent_path() / (target.filename().string() + ".tmp-" + std::to_string(::getpid()) +
                              "-" + std::to_string(counter.fetch_add(1)));
  std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel",
                                   "error",  "-nostdin",     "-y"};
  const auto recipe = RecipeFor(kind);
  args.insert(args.end(), recipe.begin(), recipe.end());
  args.push_back(temp.string());
  const int rc = RunProgram(args);
  if (rc != 0 || std::filesystem::file_size(temp, ec) == 0 || ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return std::filesystem::exists(target, ec);
  }
  return true;
}

}  // namespace korvid::fakesite

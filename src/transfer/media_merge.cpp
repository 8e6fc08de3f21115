#include "transfer/media_merge.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace korvid {
namespace {

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
}

bool HasContent(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return !ec && size > 0;
}

}  // namespace

MergeOutcome MergeMedia(const MergeJob& job) {
  MergeOutcome outcome;
  const std::string video = Absolute(job.video);
  const std::string audio = Absolute(job.audio);
  const std::string output = Absolute(job.output);
  std::error_code ec;
  std::filesystem::remove(output, ec);
  if (ec || job.ffmpeg.empty()) return outcome;
  const std::vector<std::string> argv = {job.ffmpeg, "-nostdin", "-y", "-i",   video,
                                         "-i",       audio,      "-c", "copy", output};
  CommandOptions options;
  options.workingFolder = job.workingFolder;
  outcome.run = RunCommand(argv, options);
  outcome.merged = outcome.run.started && outcome.run.exitCode == 0 && HasContent(output);
  if (outcome.merged) {
    std::filesystem::remove(video, ec);
    std::filesystem::remove(audio, ec);
  }
  return outcome;
}

}  // namespace korvid

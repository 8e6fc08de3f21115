#include "transfer/media_merge.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "transfer/target_lock.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTempSuffix = ".merging";
// Stream copy keeps the inputs' timing; a cut-off write loses far more.
constexpr double kDurationSlackSeconds = 1.0;
constexpr double kDurationSlackShare = 0.05;

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return ec ? path : absolute.string();
}

bool IsFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

std::string ProbeProgram(const MergeJob& job) {
  if (!job.ffprobe.empty()) return job.ffprobe;
  const fs::path ffmpeg(job.ffmpeg);
  const fs::path beside = ffmpeg.parent_path() / "ffprobe";
  if (ffmpeg.has_parent_path() && IsFile(beside.string())) return beside.string();
  return "ffprobe";
}

struct Probe {
  int video = 0;
  int audio = 0;
  double duration = -1.0;
};

std::optional<Probe> ProbeFile(const std::string& ffprobe, const std::string& path) {
  const CommandResult run =
      RunCommand({ffprobe, "-v", "error", "-show_entries", "stream=codec_type:format=duration",
                  "-of", "default=noprint_wrappers=1", path});
  if (!run.started || run.exitCode != 0) return std::nullopt;
  Probe probe;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    if (line == "codec_type=video") ++probe.video;
    if (line == "codec_type=audio") ++probe.audio;
    if (line.starts_with("duration=")) {
      try {
        probe.duration = std::stod(line.substr(9));
      } catch (...) {
        probe.duration = -1.0;
      }
    }
  }
  return probe;
}

std::string LastLine(const std::string& text) {
  std::istringstream lines(text);
  std::string last;
  for (std::string line; std::getline(lines, line);) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  }
  return last;
}

// Empty when the merged file is sound, else what is wrong with it.
std::string CheckMerged(const std::string& ffprobe, const std::string& merged,
                        const std::string& video, const std::string& audio) {
  const std::optional<Probe> result = ProbeFile(ffprobe, merged);
  if (!result) return "ffprobe cannot read the merged file";
  if (result->video != 1 || result->audio != 1) {
    return "the merged file has " + std::to_string(result->video) + " video and " +
           std::to_string(result->audio) + " audio streams";
  }
  double expected = 0.0;
  for (const std::string& input : {video, audio}) {
    const std::optional<Probe> half = ProbeFile(ffprobe, input);
    if (half) expected = std::max(expected, half->duration);
  }
  const double slack = std::max(kDurationSlackSeconds, expected * kDurationSlackShare);
  if (expected > 0.0 && std::fabs(result->duration - expected) > slack) {
    return "the merged file lasts " + std::to_string(result->duration) + " s of " +
           std::to_string(expected) + " s";
  }
  return {};
}

}  // namespace

std::string MergeTempPathOf(const std::string& output) {
  return output + std::string(kTempSuffix);
}

MergeOutcome MergeMedia(const MergeJob& job) {
  MergeOutcome outcome;
  const std::string video = Absolute(job.video);
  const std::string audio = Absolute(job.audio);
  const std::string output = Absolute(job.output);
  if (job.ffmpeg.empty()) {
    outcome.error = "no ffmpeg";
    return outcome;
  }
  TargetLock lock;
  for (;;) {
    const TargetLock::Result claim = lock.TryAcquire(output);
    if (claim == TargetLock::Result::kHeld) break;
    if (claim == TargetLock::Result::kFailed) {
      outcome.error = std::strerror(lock.SystemError());
      return outcome;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(job.busyPollMs));
  }
  if (!IsFile(video) && !IsFile(audio) && IsFile(output)) {
    lock.ReleaseAndRemove();
    outcome.merged = outcome.byOther = true;
    return outcome;
  }
  const std::string temp = MergeTempPathOf(output);
  const std::vector<std::string> argv = {job.ffmpeg, "-nostdin", "-y",  "-xerror", "-i",
                                         video,      "-i",       audio, "-c",      "copy",
                                         "-f",       "mp4",      temp};
  CommandOptions options;
  options.workingFolder = job.workingFolder;
  outcome.run = RunCommand(argv, options);
  std::error_code ec;
  if (!outcome.run.started) {
    outcome.error = "ffmpeg could not be started";
  } else if (outcome.run.exitCode != 0) {
    outcome.error = LastLine(outcome.run.output);
    if (outcome.error.empty())
      outcome.error = "ffmpeg exit " + std::to_string(outcome.run.exitCode);
  } else {
    outcome.error = CheckMerged(ProbeProgram(job), temp, video, audio);
    if (outcome.error.empty() && std::rename(temp.c_str(), output.c_str()) != 0) {
      outcome.error = std::strerror(errno);
    }
  }
  if (!outcome.error.empty()) {
    fs::remove(temp, ec);
    lock.ReleaseAndRemove();
    return outcome;
  }
  outcome.merged = true;
  fs::remove(video, ec);
  fs::remove(audio, ec);
  lock.ReleaseAndRemove();
  return outcome;
}

}  // namespace korvid

#pragma once

#include <string>

#include "transfer/command_runner.h"

namespace korvid {

struct MergeJob {
  std::string ffmpeg;         // the program: a path or a name on PATH
  std::string workingFolder;  // where it runs; empty: the current folder
  std::string video;
  std::string audio;
  std::string output;
};

struct MergeOutcome {
  bool merged = false;  // FFmpeg exited with 0 and left a non-empty output
  CommandResult run;
};

// Joins a video-only and an audio-only file into one file by stream copy:
// ffmpeg -nostdin -y -i VIDEO -i AUDIO -c copy OUTPUT. An existing output is
// deleted first. The inputs are deleted only after a merge that succeeded,
// so a failed merge loses nothing. Paths are made absolute first, so neither
// the working folder nor a leading '-' can change what they mean.
[[nodiscard]] MergeOutcome MergeMedia(const MergeJob& job);

}  // namespace korvid

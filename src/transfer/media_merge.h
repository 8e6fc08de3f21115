#pragma once

#include <string>

#include "transfer/command_runner.h"

namespace korvid {

struct MergeJob {
  std::string ffmpeg;         // the program: a path or a name on PATH
  std::string ffprobe;        // empty: the ffprobe beside ffmpeg, else the one on PATH
  std::string workingFolder;  // where it runs; empty: the current folder
  std::string video;
  std::string audio;
  std::string output;
  int busyPollMs = 200;  // how often a claimed output is asked for again
};

struct MergeOutcome {
  bool merged = false;   // output holds the merged file now
  bool byOther = false;  // another merge of the same halves made it meanwhile
  std::string error;     // why not: FFmpeg's last error line, or the check that failed
  CommandResult run;
};

// Joins a video-only and an audio-only file into one file by stream copy,
// so that neither the halves nor an earlier output are lost on any failure:
// FFmpeg (with -xerror) writes a temporary name beside the output; the result
// counts only when FFmpeg exits 0 and ffprobe reads back one video and one
// audio stream lasting about as long as the inputs. Then it is renamed over
// the output, and only then are the halves removed. One merge per output at a
// time (TargetLock); a merge that waited and finds the halves gone and the
// output there reports it as merged by the other. Paths are made absolute
// first, so neither the working folder nor a leading '-' can change them.
[[nodiscard]] MergeOutcome MergeMedia(const MergeJob& job);

// Where the merge writes before the rename.
[[nodiscard]] std::string MergeTempPathOf(const std::string& output);

}  // namespace korvid

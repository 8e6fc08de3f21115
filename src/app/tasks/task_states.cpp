#include "app/tasks/task_states.h"

namespace korvid {

bool IsSuccessState(std::string_view state) {
  return state == kStateDone || state == kStateMerged || state == kStateExisting ||
         state == kStateInVideoFile;
}

bool IsFinalState(std::string_view state) {
  return IsSuccessState(state) || state == kStatePaused || IsFailedState(state);
}

bool IsFailedState(std::string_view state) {
  return state == kStateShort || state == kStateStartFailed || state == kStateMergeFailed ||
         state == kStateParseFailed || state == kStateDiskFull ||
         state.starts_with(kStateUnwritablePrefix) || state.starts_with(kStateRefusedPrefix);
}

std::string RetryingStateText(int retry, int retries) {
  return std::string(kStateRetryingPrefix) + std::to_string(retry) + "/" + std::to_string(retries) +
         ")";
}

std::string UnwritableStateText(std::string_view folder) {
  return std::string(kStateUnwritablePrefix) + std::string(folder);
}

std::optional<MergeHalves> MergeHalvesOf(std::string_view path, int row) {
  const bool video = path.ends_with(kVideoHalfSuffix);
  if (!video && !path.ends_with(kAudioHalfSuffix)) return std::nullopt;
  MergeHalves halves;
  halves.output = std::string(path.substr(0, path.size() - kVideoHalfSuffix.size()));
  halves.video = halves.output + std::string(kVideoHalfSuffix);
  halves.audio = halves.output + std::string(kAudioHalfSuffix);
  halves.videoRow = video ? row : row - 1;
  halves.audioRow = halves.videoRow + 1;
  return halves;
}

}  // namespace korvid

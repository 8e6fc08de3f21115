#include "app/tasks/task_states.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvid {
namespace {

// The command line ends on final states and reports success by the second
// column, so a state sorted into the wrong set either hangs it or misreports.
TEST(TaskStates, EachStateIsFinalAndSuccessfulOrNot) {
  struct Case {
    std::string_view state;
    bool final;
    bool success;
  };
  const std::vector<Case> cases = {
      {.state = kStateDone, .final = true, .success = true},
      {.state = kStateMerged, .final = true, .success = true},
      {.state = kStateExisting, .final = true, .success = true},
      {.state = kStateInVideoFile, .final = true, .success = true},
      {.state = kStateShort, .final = true, .success = false},
      {.state = kStateStartFailed, .final = true, .success = false},
      {.state = kStateMergeFailed, .final = true, .success = false},
      {.state = kStateParseFailed, .final = true, .success = false},
      {.state = "下载:请求被拒绝", .final = true, .success = false},
      {.state = kStatePaused, .final = true, .success = false},
      {.state = kStateStarted, .final = false, .success = false},
      {.state = kStateDownloading, .final = false, .success = false},
      {.state = kStateMerging, .final = false, .success = false},
      {.state = kStateRedownload, .final = false, .success = false},
      {.state = "", .final = false, .success = false},
      {.state = "12.5%", .final = false, .success = false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFinalState(c.state), c.final) << c.state;
    EXPECT_EQ(IsSuccessState(c.state), c.success) << c.state;
    // Paused rows are no failure: "重试全部失败" leaves them.
    EXPECT_EQ(IsFailedState(c.state), c.final && !c.success && c.state != kStatePaused) << c.state;
  }
}

TEST(TaskStates, MergeHalvesFollowFromEitherHalf) {
  struct Case {
    std::string_view name;
    std::string path;
    int row;
    std::optional<MergeHalves> halves;
  };
  const MergeHalves page{.video = "/媒体/S1E1 标题.mp4.视频",
                         .audio = "/媒体/S1E1 标题.mp4.音频",
                         .output = "/媒体/S1E1 标题.mp4",
                         .videoRow = 4,
                         .audioRow = 5};
  const std::vector<Case> cases = {
      {.name = "video half", .path = page.video, .row = 4, .halves = page},
      {.name = "audio half", .path = page.audio, .row = 5, .halves = page},
      {.name = "a whole file", .path = page.output, .row = 4, .halves = std::nullopt},
      {.name = "a suffix inside the name",
       .path = "/媒体/.视频/x.mp4",
       .row = 1,
       .halves = std::nullopt},
      {.name = "empty", .path = "", .row = 1, .halves = std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<MergeHalves> got = MergeHalvesOf(c.path, c.row);
    ASSERT_EQ(got.has_value(), c.halves.has_value()) << c.name;
    if (!got) continue;
    EXPECT_EQ(got->video, c.halves->video) << c.name;
    EXPECT_EQ(got->audio, c.halves->audio) << c.name;
    EXPECT_EQ(got->output, c.halves->output) << c.name;
    EXPECT_EQ(got->videoRow, c.halves->videoRow) << c.name;
    EXPECT_EQ(got->audioRow, c.halves->audioRow) << c.name;
  }
}

}  // namespace
}  // namespace korvid

#include "transfer/media_merge.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "transfer/command_runner.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using fakesite::MediaKind;

struct RunCase {
  const char* name;
  std::vector<std::string> argv;
  bool started;
  int exitCode;
  std::string output;
};

class CommandRunnerCase : public ::testing::TestWithParam<RunCase> {};

TEST_P(CommandRunnerCase, RunsTheArgumentVectorAsGiven) {
  const RunCase& param = GetParam();
  const CommandResult result = RunCommand(param.argv);
  EXPECT_EQ(result.started, param.started);
  EXPECT_EQ(result.exitCode, param.exitCode);
  EXPECT_EQ(result.output, param.output);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandRunnerCase,
    ::testing::Values(
        // Shell syntax in an argument is only text.
        RunCase{"MetacharactersStayText",
                {"printf", "%s|", "$(echo hi)", "`id`", "a\"b'c", "x; rm -rf y", "&&", "*"},
                true,
                0,
                "$(echo hi)|`id`|a\"b'c|x; rm -rf y|&&|*|"},
        RunCase{"ErrorOutputAndExitCode",
                {"sh", "-c", "echo out; echo err >&2; exit 3"},
                true,
                3,
                "out\nerr\n"},
        RunCase{"StandardInputIsEmpty", {"cat"}, true, 0, ""},
        RunCase{"MissingProgram", {"/nonexistent/korvid-no-such-program"}, false, -1, ""},
        RunCase{"EmptyVector", {}, false, -1, ""}),
    [](const auto& instance) { return instance.param.name; });

TEST(CommandRunner, RunsInTheWorkingFolderAndStopsReadingWhenTheHandlerSaysSo) {
  test::Sandbox sandbox;
  CommandOptions options;
  options.workingFolder = sandbox.Path().string();
  EXPECT_EQ(RunCommand({"pwd"}, options).output, sandbox.Path().string() + "\n");

  int pieces = 0;
  options.onOutput = [&](std::string_view) { return ++pieces == 1; };
  options.keepOutputBytes = 4;
  const CommandResult result =
      RunCommand({"sh", "-c", "echo 123456789; sleep 0.2; echo more"}, options);
  EXPECT_EQ(pieces, 1);
  EXPECT_EQ(result.output, "789\n");  // only the tail is kept
}

std::vector<std::string> StreamKinds(const fs::path& file) {
  const CommandResult probe = RunCommand({"ffprobe", "-v", "error", "-show_entries",
                                          "stream=codec_type", "-of", "csv=p=0", file.string()});
  std::vector<std::string> kinds;
  std::string line;
  for (char c : probe.output) {
    if (c != '\n') {
      line += c;
    } else if (!line.empty()) {
      kinds.push_back(std::exchange(line, {}));
    }
  }
  return kinds;
}

class MediaMergeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_video = m_site.MediaBytes(MediaKind::VideoOnly);
    m_audio = m_site.MediaBytes(MediaKind::AudioOnly);
    ASSERT_FALSE(m_video.empty());
    ASSERT_FALSE(m_audio.empty());
  }

  MergeJob Job(const std::string& stem) const {
    MergeJob job;
    job.ffmpeg = "ffmpeg";
    job.workingFolder = m_sandbox.Path().string();
    job.output = (m_sandbox / (stem + "S1E1.mp4")).string();
    job.video = job.output + ".视频";
    job.audio = job.output + ".音频";
    return job;
  }

  fakesite::FakeSite m_site;
  test::Sandbox m_sandbox;
  std::string m_video;
  std::string m_audio;
};

TEST_F(MediaMergeTest, HostileTitleMergesIntoOnePlayableFileReplacingTheOldOne) {
  const std::string title = "-$(touch pwned) `touch pwned2` \"q\" 'q' ; & |";
  const MergeJob job = Job(title);
  ASSERT_TRUE(m_sandbox.WriteFile(fs::path(job.video).filename(), m_video));
  ASSERT_TRUE(m_sandbox.WriteFile(fs::path(job.audio).filename(), m_audio));
  ASSERT_TRUE(m_sandbox.WriteFile(fs::path(job.output).filename(), "an old output"));

  const MergeOutcome outcome = MergeMedia(job);
  EXPECT_TRUE(outcome.merged) << outcome.run.output;
  EXPECT_EQ(StreamKinds(job.output), (std::vector<std::string>{"video", "audio"}));
  EXPECT_FALSE(fs::exists(job.video));
  EXPECT_FALSE(fs::exists(job.audio));
  EXPECT_FALSE(fs::exists(m_sandbox / "pwned"));
  EXPECT_FALSE(fs::exists(m_sandbox / "pwned2"));
}

TEST_F(MediaMergeTest, FailedMergeKeepsBothHalvesAndLeavesNoOutput) {
  const MergeJob job = Job("broken");
  ASSERT_TRUE(m_sandbox.WriteFile(fs::path(job.video).filename(), m_video));
  ASSERT_TRUE(m_sandbox.WriteFile(fs::path(job.audio).filename(), "not a media file"));
  ASSERT_TRUE(m_sandbox.WriteFile(fs::path(job.output).filename(), "an old output"));

  EXPECT_FALSE(MergeMedia(job).merged);
  EXPECT_EQ(m_sandbox.ReadFile(fs::path(job.video).filename()), m_video);
  EXPECT_EQ(m_sandbox.ReadFile(fs::path(job.audio).filename()), "not a media file");

  MergeJob noProgram = Job("broken");
  noProgram.ffmpeg = "/nonexistent/ffmpeg";
  const MergeOutcome missing = MergeMedia(noProgram);
  EXPECT_FALSE(missing.merged);
  EXPECT_FALSE(missing.run.started);
  EXPECT_TRUE(fs::exists(job.video));
}

}  // namespace
}  // namespace korvid

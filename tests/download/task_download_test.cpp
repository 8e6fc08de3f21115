// From a pasted link to the files of a media library, against the fake site:
// link jobs queue the records, the scheduler starts the task download, the
// download engine streams and merges.

#include "download/task_download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "download/download_engine.h"
#include "download/row_actions.h"
#include "download/scheduler.h"
#include "net/site_hosts.h"
#include "site/link_jobs.h"
#include "site/site_headers.h"
#include "support/fake_site_test.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using fakesite::MediaKind;

constexpr int kWaitMs = 90000;
const std::vector<std::string> kSideFiles = {"tvshow.nfo", "fanart.jpg", "poster.jpg"};

struct Settings {
  explicit Settings(std::string linkText, bool splitTasks = false, std::string cookieText = {},
                    std::string path = "library", bool typeFolders = false,
                    bool uploaderFolders = false)
      : link(std::move(linkText)),
        split(splitTasks),
        cookies(std::move(cookieText)),
        downloadPath(std::move(path)),
        byType(typeFolders),
        byUploader(uploaderFolders) {}
  std::string link;
  int retries = RetryPolicy::kDefaultRetries;
  bool split;
  std::string cookies;
  std::string downloadPath;  // under the sandbox; "" for none
  bool byType;
  bool byUploader;
};

// Retries that wait a moment only.
RetryPolicy QuickRetries(int retries) {
  RetryPolicy policy;
  policy.retries = retries;
  policy.busyPollMs = 20;
  policy.sleep = [](int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
    return true;
  };
  return policy;
}

// Ticks until the queue is empty and nothing runs any more; bounded by kWaitMs.
bool TickUntilDrained(Scheduler& scheduler, AppState& app, DownloadEngine& engine) {
  return test::WaitFor(
      [&] {
        scheduler.Tick();
        return app.TaskQueue().Count() == 0 && scheduler.ActiveWorkers() == 0 &&
               engine.ActiveCount() == 0;
      },
      kWaitMs);
}

class TaskDownloadTest : public test::FakeSiteTest {
 protected:
  TaskDownloadTest() { CreateMainWindowControls(m_controls); }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FakeSiteTest::SetUp());
    fs::create_directories(m_sandbox / "library");
  }

  // Adds the link and lets the scheduler drain the queue; the final state
  // of every row.
  std::vector<std::string> Download(const Settings& settings) {
    AppState app(m_controls, AppPaths{m_sandbox / "program"});
    DownloadEngine engine(app);
    engine.SetRetryPolicy(QuickRetries(settings.retries));
    m_controls.SetText(kCookiesBox, settings.cookies);
    m_controls.SetText(kDownloadPathBox, settings.downloadPath.empty()
                                             ? std::string()
                                             : (m_sandbox / settings.downloadPath).string());
    m_controls.SetChecked(kByTypeCheck, settings.byType);
    m_controls.SetChecked(kByUploaderCheck, settings.byUploader);
    {
      LinkJobs jobs(app);
      if (settings.split) jobs.SetSplitCondition(true);
      std::istringstream links(settings.link);  // links separated by spaces, added in turn
      for (std::string link; links >> link;) {
        m_controls.SetText(kTaskLinkBox, link);
        jobs.OnAddLinkPressed();
        jobs.WaitAll();
      }
    }
    Scheduler scheduler(app,
                        SchedulerJobs{[&app, &engine] { (void)DownloadOneTask(app, engine); }, {}});
    const bool drained = TickUntilDrained(scheduler, app, engine);
    EXPECT_TRUE(drained) << settings.link;
    scheduler.WaitForWorkers();
    EXPECT_TRUE(engine.WaitIdle(kWaitMs));
    std::vector<std::string> states;
    m_tips.clear();
    for (int row = 1; row <= app.Tasks().RowCount(); ++row) {
      states.push_back(app.Tasks().CellText(row, kColState));
      m_tips.push_back(app.Tasks().CellTip(row, kColState));
    }
    return states;
  }

  std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::map<std::string, fs::file_time_type> WriteTimes(const fs::path& folder) {
    std::map<std::string, fs::file_time_type> times;
    for (const std::string& name : FilesIn(folder)) {
      times[name] = fs::last_write_time(folder / name);
    }
    return times;
  }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
  std::vector<std::string> m_tips;  // of the state cells after the last Download
};

// A video folder and the names of its media files; every media file must hold
// the bytes of one kind of served file.
struct LayoutCase {
  const char* about;
  Settings settings;
  std::vector<std::string> states;
  fs::path folder;  // below the sandbox
  std::vector<std::string> media;
  MediaKind kind;  // what a media file holds; merged files are only checked for size
};

TEST_F(TaskDownloadTest, LinksEndAsLibraryFolders) {
  const std::string one = "唯一的一集S1E1";
  const LayoutCase cases[] = {
      {"single page, one file",
       Settings("BV1Ks411D7aa"),
       {"完成"},
       fs::path("library") / "单页视频 A一 BC",
       {one},
       MediaKind::Progressive},
      {"single page, split and merged",
       Settings("BV1Ks411D7aa", true, "SESSDATA=x"),
       {"合并完成", "合并完成"},
       fs::path("library") / "单页视频 A一 BC",
       {one},
       MediaKind::VideoOnly},
      {"split tasks without the cookie: one file, the audio row has nothing to do",
       Settings("BV1Ks411D7aa", true),
       {"完成", "随视频下载"},
       fs::path("library") / "单页视频 A一 BC",
       {one},
       MediaKind::Progressive},
      {"three pages in type and uploader folders",
       Settings("BV1Mp411T7bb", false, "", "library", true, true),
       {"完成", "完成", "完成"},
       fs::path("library") / "日常" / "测试UP主乙" / "三集测试视频",
       {"第一集 开始S1E1", "第二集中段S1E2", "第三集 结束S1E3"},
       MediaKind::Progressive},
      {"a download path that does not exist",
       Settings("BV1Ks411D7aa", false, "", "missing"),
       {"完成"},
       fs::path("program") / "下载" / "单页视频 A一 BC",
       {one},
       MediaKind::Progressive},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.about);
    std::error_code ec;
    fs::remove_all(m_sandbox / "library" / "单页视频 A一 BC", ec);
    EXPECT_EQ(Download(c.settings), c.states);
    const fs::path folder = m_sandbox / c.folder;
    std::vector<std::string> expected = kSideFiles;
    for (const std::string& name : c.media) {
      for (const char* extension : {".mp4", ".ass", ".xml", ".nfo"}) {
        expected.push_back(name + extension);
      }
      // The three-page video has a subtitle track and first frames on the fake site.
      if (c.media.size() == 3) {
        expected.push_back(name + ".zh-CN.srt");
        expected.push_back(name + "-thumb.jpg");  // its pages have first frames
      }
      const std::string bytes = test::ReadWholeFile(folder / (name + ".mp4"));
      if (c.settings.split && !c.settings.cookies.empty()) {
        EXPECT_GT(bytes.size(), m_site.MediaBytes(c.kind).size()) << name;  // video and audio
      } else {
        EXPECT_EQ(bytes, m_site.MediaBytes(c.kind)) << name;
      }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesIn(folder), expected);  // the halves are gone after the merge
  }
}

TEST_F(TaskDownloadTest, ASecondRunFindsEverythingThere) {
  for (const Settings& settings :
       {Settings("BV1Mp411T7bb"), Settings("BV1Ks411D7aa", true, "SESSDATA=x")}) {
    SCOPED_TRACE(settings.link);
    const std::vector<std::string> first = Download(settings);
    const fs::path folder =
        m_sandbox / "library" / (settings.split ? "单页视频 A一 BC" : "三集测试视频");
    const auto written = WriteTimes(folder);
    m_site.ClearRequests();
    const std::vector<std::string> second = Download(settings);
    EXPECT_EQ(second, std::vector<std::string>(first.size(), "已存在"));
    EXPECT_EQ(WriteTimes(folder), written);
    for (const auto& request : m_site.Requests()) {
      EXPECT_FALSE(request.method == "GET" &&
                   (request.path.starts_with("/media/") || request.path.starts_with("/img/") ||
                    request.path.ends_with(".xml")))
          << request.path;
    }
  }
}

TEST_F(TaskDownloadTest, AMainAddressAnswering403IsServedFromItsBackup) {
  for (const char* media : {"/media/progressive/", "/media/video/", "/media/audio/"}) {
    m_site.SetFault(media, fakesite::Fault::Status(403));
  }
  const fs::path file = m_sandbox / "library" / "单页视频 A一 BC" / "唯一的一集S1E1.mp4";
  const std::pair<Settings, std::vector<std::string>> cases[] = {
      {Settings("BV1Ks411D7aa"), {"完成"}},
      {Settings("BV1Ks411D7aa", true, "SESSDATA=x"), {"合并完成", "合并完成"}},
  };
  for (const auto& [settings, states] : cases) {
    SCOPED_TRACE(settings.split);
    std::error_code ec;
    fs::remove_all(file.parent_path(), ec);
    m_site.ClearRequests();
    EXPECT_EQ(Download(settings), states);
    const std::string bytes = test::ReadWholeFile(file);
    if (settings.split) {
      EXPECT_GT(bytes.size(), m_site.MediaBytes(MediaKind::VideoOnly).size());
    } else {
      EXPECT_EQ(bytes, m_site.MediaBytes(MediaKind::Progressive));
    }
    int backups = 0;
    for (const auto& request : m_site.Requests()) {
      if (request.method != "GET" || !request.path.starts_with("/media/")) continue;
      backups += request.path.starts_with("/media/backup/") ? 1 : 0;
      EXPECT_EQ(request.Header("User-Agent"), kBrowserUserAgent);
      EXPECT_EQ(request.Header("Referer"), m_site.BaseUrl() + "/");
    }
    EXPECT_EQ(backups, settings.split ? 2 : 1);
  }
}

// The audio half broke off in the first run; the second finds the video half
// on disk and still merges once the audio arrives.
TEST_F(TaskDownloadTest, AHalfFromAnEarlierRunJoinsTheMerge) {
  Settings split("BV1Ks411D7aa", true, "SESSDATA=x");
  split.retries = 0;
  m_site.SetFault("/media/audio/", fakesite::Fault::DropAfter(1000));
  EXPECT_EQ(Download(split), (std::vector<std::string>{"完成", "下载失败"}));
  const fs::path folder = m_sandbox / "library" / "单页视频 A一 BC";
  EXPECT_EQ(fs::file_size(folder / "唯一的一集S1E1.mp4.音频.part"), 1000u);
  m_site.ClearFaults();
  m_site.ClearRequests();
  EXPECT_EQ(Download(split), (std::vector<std::string>{"合并完成", "合并完成"}));
  EXPECT_TRUE(fs::exists(folder / "唯一的一集S1E1.mp4"));
  EXPECT_FALSE(fs::exists(folder / "唯一的一集S1E1.mp4.视频"));
  EXPECT_FALSE(fs::exists(folder / "唯一的一集S1E1.mp4.音频.part"));
  // The second run asked only for the rest of the audio.
  for (const auto& request : m_site.Requests()) {
    if (request.method == "GET" && request.path.starts_with("/media/audio/")) {
      EXPECT_EQ(request.Header("Range"), "bytes=1000-");
    }
  }
}

// A folder of the same name that belongs to another video is left alone.
TEST_F(TaskDownloadTest, TwoVideosOfOneTitleGetTwoFolders) {
  const fs::path taken = m_sandbox / "library" / "单页视频 A一 BC";
  fs::create_directories(taken);
  std::ofstream(taken / "tvshow.nfo") << "<tvshow>\r\n  <id>BV1aa411c7xx</id>\r\n</tvshow>\r\n";
  std::ofstream(taken / "唯一的一集S1E1.mp4") << "the other video";
  EXPECT_EQ(Download(Settings("BV1Ks411D7aa")), std::vector<std::string>{"完成"});
  EXPECT_EQ(test::ReadWholeFile(taken / "唯一的一集S1E1.mp4"), "the other video");
  const fs::path own = m_sandbox / "library" / "单页视频 A一 BC [BV1Ks411D7aa]";
  EXPECT_TRUE(test::ReadWholeFile(own / "唯一的一集S1E1.mp4") ==
              m_site.MediaBytes(MediaKind::Progressive));
  EXPECT_EQ(FolderVideoId(own), "BV1Ks411D7aa");
}

// The folder settings change after the video half started: the audio half
// still goes beside it, and the pair merges.
TEST_F(TaskDownloadTest, BothHalvesKeepTheFolderTheFirstChose) {
  AppState app(m_controls, AppPaths{m_sandbox / "program"});
  DownloadEngine engine(app);
  engine.SetRetryPolicy(QuickRetries(0));
  m_controls.SetText("编辑框_cookies", "SESSDATA=x");
  m_controls.SetText("编辑框_下载路径", (m_sandbox / "library").string());
  m_controls.SetChecked("选择框_按类型分组", false);
  m_controls.SetChecked("选择框_按演员分组", false);
  {
    LinkJobs jobs(app);
    jobs.SetSplitCondition(true);
    m_controls.SetText("编辑框_解析下载", "BV1Ks411D7aa");
    jobs.OnAddLinkPressed();
    jobs.WaitAll();
  }
  EXPECT_EQ(DownloadOneTask(app, engine), TaskDownloadEnd::kStarted);
  m_controls.SetChecked("选择框_按类型分组", true);
  EXPECT_EQ(DownloadOneTask(app, engine), TaskDownloadEnd::kStarted);
  ASSERT_TRUE(engine.WaitIdle(kWaitMs));
  EXPECT_EQ(app.Tasks().CellText(1, kColState), kStateMerged);
  EXPECT_EQ(app.Tasks().CellText(2, kColState), kStateMerged);
  EXPECT_TRUE(fs::exists(m_sandbox / "library" / "单页视频 A一 BC" / "唯一的一集S1E1.mp4"));
}

// The same link twice, two downloads at once: one writes, the other waits for
// it, and one good file is left.
TEST_F(TaskDownloadTest, TheSameLinkTwiceEndsWithOneGoodFile) {
  m_controls.SetText(kMaxDownloadsBox, "4");
  m_site.SetFault("/media/", fakesite::Fault::Throttle(200'000));
  for (const bool split : {false, true}) {
    SCOPED_TRACE(split);
    std::error_code ec;
    fs::remove_all(m_sandbox / "library", ec);
    fs::create_directories(m_sandbox / "library");
    Settings twice("BV1Ks411D7aa BV1Ks411D7aa", split, split ? "SESSDATA=x" : "");
    const std::vector<std::string> states = Download(twice);
    ASSERT_EQ(states.size(), split ? 4u : 2u);
    for (const std::string& state : states) EXPECT_TRUE(IsSuccessState(state)) << state;
    const fs::path folder = m_sandbox / "library" / "单页视频 A一 BC";
    const std::string bytes = test::ReadWholeFile(folder / "唯一的一集S1E1.mp4");
    if (split) {
      EXPECT_GT(bytes.size(), m_site.MediaBytes(MediaKind::VideoOnly).size());
    } else {
      EXPECT_TRUE(bytes == m_site.MediaBytes(MediaKind::Progressive));
    }
    for (const std::string& name : FilesIn(folder)) {
      EXPECT_FALSE(name.ends_with(".part") || name.ends_with(".lock") || name.ends_with(".视频"))
          << name;
    }
  }
}

TEST_F(TaskDownloadTest, CommentsThatCouldNotBeFetchedAreFetchedByTheNextRun) {
  const fs::path ass = m_sandbox / "library" / "单页视频 A一 BC" / "唯一的一集S1E1.ass";
  m_site.SetFault("/35306865841.xml", fakesite::Fault::Status(502));
  EXPECT_EQ(Download(Settings("BV1Ks411D7aa")), std::vector<std::string>{"完成"});
  EXPECT_EQ(m_tips, std::vector<std::string>{"弹幕获取失败"});
  EXPECT_FALSE(fs::exists(ass));
  EXPECT_FALSE(fs::exists(fs::path(ass).replace_extension(".xml")));
  m_site.ClearFaults();
  EXPECT_EQ(Download(Settings("BV1Ks411D7aa")), std::vector<std::string>{"已存在"});
  EXPECT_EQ(m_tips, std::vector<std::string>{""});
  EXPECT_NE(test::ReadWholeFile(ass).find("Dialogue: "), std::string::npos);
}

TEST_F(TaskDownloadTest, ARefusedStreamWritesNothing) {
  m_site.SetFault("/x/player/playurl", fakesite::Fault::ApiCode(-404));
  EXPECT_EQ(Download(Settings("BV1Ks411D7aa")), std::vector<std::string>{"下载:fault -404"});
  EXPECT_FALSE(fs::exists(m_sandbox / "library" / "单页视频 A一 BC"));
}

// The site goes away with four tasks queued: three tries fail, the rows go
// back to waiting, the caption says why and nothing more starts; once the
// site is back the next try (30 s later on the reachability clock) gets
// through and every row completes by itself.
TEST_F(TaskDownloadTest, TasksWaitOutAnUnreachableSite) {
  AppState app(m_controls, AppPaths{m_sandbox / "program"});
  std::atomic<std::int64_t> now{0};
  app.Reachability().SetClock([&now] { return now.load(); });
  DownloadEngine engine(app);
  engine.SetRetryPolicy(QuickRetries(1));
  m_controls.SetText(kDownloadPathBox, (m_sandbox / "library").string());
  m_controls.SetText(kMaxDownloadsBox, "3");
  {
    LinkJobs jobs(app);
    for (const char* link : {"BV1Mp411T7bb", "BV1Ks411D7aa"}) {
      m_controls.SetText(kTaskLinkBox, link);
      jobs.OnAddLinkPressed();
      jobs.WaitAll();
    }
  }
  const int rows = app.Tasks().RowCount();
  ASSERT_EQ(rows, 4);
  const int port = m_site.Port();
  m_site.Stop();

  std::atomic<int> unreachable{0};
  Scheduler scheduler(
      app, SchedulerJobs{[&] {
                           if (DownloadOneTask(app, engine) == TaskDownloadEnd::kUnreachable) {
                             ++unreachable;
                           }
                         },
                         {}});
  for (int tick = 0; tick < 8; ++tick) {
    scheduler.Tick();
    scheduler.WaitForWorkers();
  }
  EXPECT_EQ(unreachable.load(), SiteReachability::kFailuresToPause);
  EXPECT_EQ(m_controls.Caption(), "Korvid - 网络不可用，暂停开始新任务");
  EXPECT_EQ(app.TaskQueue().Count(), rows);
  for (int row = 1; row <= rows; ++row) {
    EXPECT_EQ(app.Tasks().CellText(row, kColState), kStateWaiting) << row;
  }

  ASSERT_TRUE(m_site.Start(port));
  now = SiteReachability::kProbeIntervalMs;
  const bool drained = TickUntilDrained(scheduler, app, engine);
  EXPECT_TRUE(drained);
  scheduler.WaitForWorkers();
  EXPECT_TRUE(engine.WaitIdle(kWaitMs));
  for (int row = 1; row <= rows; ++row) {
    EXPECT_EQ(app.Tasks().CellText(row, kColState), kStateDone) << row;
  }
  EXPECT_EQ(unreachable.load(), SiteReachability::kFailuresToPause);
  scheduler.Tick();
  EXPECT_EQ(m_controls.Caption(), "Korvid");
}

// Episodes of a licensed work: the season folder with both NFOs, or the
// refusal, which for a VIP-only episode without a VIP log-in needs no request.
TEST_F(TaskDownloadTest, LicensedEpisodesEndInTheSeasonFolderOrWithTheirRefusal) {
  const std::string play = m_site.BaseUrl() + "/bangumi/play/";
  const fs::path folder = m_sandbox / "library" / "测试番剧 罪犯新选组 & 其他";
  const std::string first = "第1话 瞒天过海！罪犯新选组S1E1";
  struct Case {
    std::string name;
    Settings settings;
    std::string refusal;  // canned answer message of the player call, -10403
    std::vector<std::string> states;
    int playerCalls = 0;
    std::vector<std::string> media;  // episode files expected in the folder
  };
  const Case cases[] = {
      {.name = "one file",
       .settings = Settings(play + "ep606591"),
       .refusal = "",
       .states = {"完成"},
       .playerCalls = 1,
       .media = {first}},
      {.name = "split and merged",
       .settings = Settings(play + "ep606591", true, m_site.LoginCookie()),
       .refusal = "",
       .states = {"合并完成", "合并完成"},
       .playerCalls = 2,
       .media = {first}},
      {.name = "VIP only, not logged in",
       .settings = Settings(play + "ep606605"),
       .refusal = "",
       .states = {"下载:需要大会员"},
       .playerCalls = 0,
       .media = {}},
      {.name = "refused by region",
       .settings = Settings(play + "ep606592"),
       .refusal = "抱歉您所在地区不可观看！",
       .states = {"下载:抱歉您所在地区不可观看！"},
       .playerCalls = 1,
       .media = {}},
      {.name = "refused to a VIP member's log-in",
       .settings = Settings(play + "ep606605", false, m_site.LoginCookie()),
       .refusal = "大会员专享限制",
       .states = {"下载:大会员专享限制"},
       .playerCalls = 1,
       .media = {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove_all(folder, ec);
    m_site.ClearRequests();
    m_site.ClearCanned();
    if (!c.refusal.empty()) {
      fakesite::CannedReply refused;
      refused.body = R"({"code":-10403,"message":")" + c.refusal + R"("})";
      m_site.SetCanned("GET", "/pgc/player/web/playurl", refused);
    }
    EXPECT_EQ(Download(c.settings), c.states);
    EXPECT_EQ(RequestCount("/pgc/player/web/playurl"), c.playerCalls);
    if (c.media.empty()) {
      EXPECT_FALSE(fs::exists(folder));
      continue;
    }
    std::vector<std::string> expected = kSideFiles;
    for (const std::string& name : c.media) {
      for (const char* extension : {".mp4", ".ass", ".xml", ".nfo", "-thumb.jpg"}) {
        expected.push_back(name + extension);
      }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesIn(folder), expected);
    const std::string golden = std::string(KORVID_TEST_DATA_DIR) + "/golden/";
    EXPECT_EQ(test::ReadWholeFile(folder / "tvshow.nfo"),
              test::ReadWholeFile(golden + "tvshow_ss42290.nfo"));
    // The fake site serves the episode's picture under its own address.
    std::string episodeNfo = test::ReadWholeFile(folder / (first + ".nfo"));
    const std::string served = m_site.BaseUrl() + "/img";
    if (const std::size_t at = episodeNfo.find(served); at != std::string::npos) {
      episodeNfo.replace(at, served.size(), "http://i0.hdslb.com");
    }
    EXPECT_EQ(episodeNfo, test::ReadWholeFile(golden + "episode_ep606591_S1E1.nfo"));
  }
}

// A task prepared ahead waits for a slot as "等待中" (what the task store
// keeps); whatever happened to its row or its file meanwhile decides whether
// it starts.
TEST_F(TaskDownloadTest, ATaskPreparedAheadStartsOnlyIfItsRowStillWaits) {
  enum class Meanwhile { kNothing, kPause, kCancel, kPauseAndContinue, kRunEnds, kFileFinished };
  struct Case {
    const char* name;
    Meanwhile meanwhile;
    TaskDownloadEnd end;
    std::string state{};  // "" for a removed row
    int queued = 0;
  };
  const Case cases[] = {
      {.name = "a slot frees",
       .meanwhile = Meanwhile::kNothing,
       .end = TaskDownloadEnd::kStarted,
       .state = std::string(kStateDone)},
      {.name = "paused",
       .meanwhile = Meanwhile::kPause,
       .end = TaskDownloadEnd::kSetAside,
       .state = std::string(kStatePaused)},
      {.name = "cancelled", .meanwhile = Meanwhile::kCancel, .end = TaskDownloadEnd::kSetAside},
      // Another worker takes the queued row: this one must not start it too.
      {.name = "paused and continued",
       .meanwhile = Meanwhile::kPauseAndContinue,
       .end = TaskDownloadEnd::kSetAside,
       .state = std::string(kStateWaiting),
       .queued = 1},
      {.name = "the run ends",
       .meanwhile = Meanwhile::kRunEnds,
       .end = TaskDownloadEnd::kPutBack,
       .state = std::string(kStateWaiting),
       .queued = 1},
      // Another task for the same video finished it: not fetched again.
      {.name = "the file finished by another task",
       .meanwhile = Meanwhile::kFileFinished,
       .end = TaskDownloadEnd::kExisting,
       .state = std::string(kStateExisting)},
  };
  m_controls.SetText(kDownloadPathBox, (m_sandbox / "library").string());
  const fs::path media = m_sandbox / "library" / "单页视频 A一 BC" / "唯一的一集S1E1.mp4";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove_all(m_sandbox / "library", ec);
    fs::create_directories(m_sandbox / "library");
    AppState app(m_controls, AppPaths{m_sandbox / "program"});
    DownloadEngine engine(app);
    RowActions actions(app, engine);
    {
      LinkJobs jobs(app);
      m_controls.SetText(kTaskLinkBox, "BV1Ks411D7aa");
      jobs.OnAddLinkPressed();
      jobs.WaitAll();
    }
    const std::string record = app.Tasks().QueuedRecord(1);
    std::string stateWhileWaiting;
    const int row[] = {1};
    const auto waitForSlot = [&] {
      stateWhileWaiting = app.Tasks().CellText(1, kColState);
      switch (c.meanwhile) {
        case Meanwhile::kNothing:
        case Meanwhile::kRunEnds:
          break;
        case Meanwhile::kPause:
          EXPECT_EQ(actions.Pause(row), 1);
          break;
        case Meanwhile::kCancel:
          EXPECT_EQ(actions.Cancel(row), 1);
          break;
        case Meanwhile::kPauseAndContinue:
          EXPECT_EQ(actions.Pause(row), 1);
          EXPECT_EQ(actions.Continue(row), 1);
          break;
        case Meanwhile::kFileFinished:
          EXPECT_TRUE(m_sandbox.WriteFile(fs::relative(media, m_sandbox.Path()),
                                          m_site.MediaBytes(fakesite::MediaKind::Progressive)));
          m_site.ClearRequests();
          break;
      }
      return c.meanwhile != Meanwhile::kRunEnds;
    };
    EXPECT_EQ(DownloadOneTask(app, engine, waitForSlot), c.end);
    ASSERT_TRUE(engine.WaitIdle(kWaitMs));
    EXPECT_EQ(stateWhileWaiting, kStateWaiting);
    EXPECT_EQ(app.Tasks().CellText(1, kColState), c.state);
    EXPECT_EQ(app.TaskQueue().Count(), c.queued);
    if (c.queued > 0) {
      EXPECT_EQ(app.Tasks().QueuedRecord(1), record);
    }
    EXPECT_EQ(fs::exists(media),
              c.end == TaskDownloadEnd::kStarted || c.end == TaskDownloadEnd::kExisting);
    if (c.meanwhile == Meanwhile::kFileFinished) {
      EXPECT_EQ(RequestCount("/media/progressive/35306865841-1-1.mp4"), 1) << "the size check only";
    }
  }
}

TEST_F(TaskDownloadTest, AnEmptyQueueTouchesNoRow) {
  AppState app(m_controls, AppPaths{m_sandbox / "program"});
  DownloadEngine engine(app);
  (void)app.Tasks().AppendRow();
  EXPECT_EQ(DownloadOneTask(app, engine), TaskDownloadEnd::kNoRecord);
  EXPECT_TRUE(app.Tasks().CellText(1, kColState).empty());
  EXPECT_EQ(app.Tasks().CellColor(1, kColState), kColorDefault);
}

TEST(VideoLayout, NothingFromTheSiteLeavesTheRoot) {
  JsonDocument record;
  ASSERT_TRUE(record.Parse(R"({"data":{"bvid":"BV1xx411c7mD","title":"../..","tname":"..",
      "owner":{"name":"/etc"},"videos":2},"视频part":"../../x","分集序号":"../2"})"));
  const fs::path root = "/lib";
  const VideoLayout layout = PlanVideoLayout(record, LayoutSettings{"", true, true}, root, ".音频");
  for (const fs::path& path : {layout.folder, layout.media, layout.subtitle}) {
    const fs::path relative = path.lexically_normal().lexically_relative(root);
    EXPECT_EQ(std::distance(relative.begin(), relative.end()), path == layout.folder ? 3 : 4)
        << path;
    EXPECT_FALSE(relative.string().starts_with("..")) << path;
  }
  EXPECT_TRUE(layout.media.string().ends_with("S1E2.mp4.音频")) << layout.media;
}

}  // namespace
}  // namespace korvid

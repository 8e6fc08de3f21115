// korvid-cli sync against the fake site: a followed folder across runs that
// find 45, then 3, then nothing new; a collection, a series and a 番剧 season
// that grow between two runs; watch later with and without the log-in; an
// adopted library; a killed sync run again; a
// video the site refuses; the site's risk control on the list.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_command_line.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using fakesite::Fault;
using test::RunShell;
using test::ShellRun;

constexpr std::int64_t kFolder = 30045;
constexpr std::int64_t kSpace = 20030;
constexpr const char* kFavouritesPath = "/x/v3/fav/resource/list";

int Count(const std::string& text, const std::string& word) {
  int count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

class KorvidCliSync : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_site.Start()); }

  [[nodiscard]] std::string Cli(const std::string& arguments,
                                const std::string& home = "home") const {
    return test::CliCommand((m_sandbox / home).string(), arguments,
                            test::SiteHostsEnvironment(m_site.BaseUrl()));
  }
  [[nodiscard]] std::string Library() const {
    return test::ShellQuote((m_sandbox / "媒体库").string());
  }
  [[nodiscard]] ShellRun Sync(const std::string& home = "home",
                              const std::string& extra = {}) const {
    return RunShell(
        Cli("sync --pause 0 --backoff 0s,0s,0s --max 6 --dir " + Library() + extra, home) +
        " 2>&1");
  }
  [[nodiscard]] int Requests(const std::string& path) const {
    int count = 0;
    for (const auto& request : m_site.Requests()) count += request.path == path ? 1 : 0;
    return count;
  }
  [[nodiscard]] int MediaGets() const {
    int count = 0;
    for (const auto& request : m_site.Requests()) {
      count += request.method == "GET" && request.path.starts_with("/media/") ? 1 : 0;
    }
    return count;
  }

  // The cid of every file the history holds (its fourth column).
  [[nodiscard]] std::vector<std::string> HistoryCids() const {
    const std::string text = RunShell(Cli("history")).output;
    std::vector<std::string> cids;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      const std::string line = text.substr(start, end - start);
      std::size_t at = 0;
      for (int column = 0; column < 3 && at != std::string::npos; ++column) {
        at = line.find('\t', at);
        if (at != std::string::npos) ++at;
      }
      if (at != std::string::npos) cids.push_back(line.substr(at, line.find('\t', at) - at));
      start = end + 1;
    }
    return cids;
  }

  fakesite::FakeSite m_site;
  test::Sandbox m_sandbox;
};

TEST_F(KorvidCliSync, AddRefusesWhatIsNoList) {
  struct Case {
    const char* name;
    std::string link;
    int exitCode;
    const char* said;
  };
  const std::string folder = m_site.BaseUrl() + "/1/favlist?fid=30045";
  const Case cases[] = {
      {.name = "a video", .link = "BV1Mp411T7bb", .exitCode = 1, .said = "单个视频无法订阅"},
      {.name = "nothing", .link = "hello", .exitCode = 1, .said = "无法解析链接"},
      {.name = "a folder", .link = folder, .exitCode = 0, .said = "收藏夹 30045"},
      {.name = "the folder again", .link = folder, .exitCode = 1, .said = "已订阅"},
      {.name = "a space", .link = m_site.BaseUrl() + "/20030", .exitCode = 0, .said = "UP主"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ShellRun run = RunShell(Cli("sync add " + test::ShellQuote(c.link)) + " 2>&1");
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
  }
  const ShellRun listed = RunShell(Cli("sync list"));
  EXPECT_EQ(Count(listed.output, "\n"), 2) << listed.output;
  EXPECT_EQ(RunShell(Cli("sync remove 1")).exitCode, 0);
  EXPECT_NE(RunShell(Cli("sync remove 1") + " 2>/dev/null").exitCode, 0);
  EXPECT_EQ(Count(RunShell(Cli("sync list")).output, "\n"), 1);
}

// 45 on the first run; three added to the top, the next run reads one page
// and downloads exactly those; a library adopted elsewhere downloads nothing.
TEST_F(KorvidCliSync, AFollowedFolderAcrossRuns) {
  const std::string folder = m_site.BaseUrl() + "/1/favlist?fid=" + std::to_string(kFolder);
  ASSERT_EQ(RunShell(Cli("sync add " + test::ShellQuote(folder) + " --name 收藏")).exitCode, 0);

  const ShellRun first = Sync();
  EXPECT_EQ(first.exitCode, 0) << first.output;
  EXPECT_NE(first.output.find("收藏: 新视频 45，已下载 45，失败 0"), std::string::npos)
      << first.output;

  ASSERT_TRUE(m_site.GrowList(kFolder, 3));
  m_site.ClearRequests();
  const ShellRun second = Sync();
  EXPECT_EQ(second.exitCode, 0) << second.output;
  EXPECT_NE(second.output.find("收藏: 新视频 3，已下载 3，失败 0"), std::string::npos)
      << second.output;
  EXPECT_EQ(Requests(kFavouritesPath), 1);
  EXPECT_EQ(MediaGets(), 3);
  EXPECT_TRUE(std::filesystem::exists(m_sandbox / "媒体库" / "四十五个视频的收藏夹 第四八个"));

  const ShellRun history = RunShell(Cli("history --json"));
  EXPECT_EQ(Count(history.output, "\"bvid\""), 48) << history.output;
  EXPECT_NE(RunShell(Cli("sync list")).output.find("\t48\t"), std::string::npos);

  // Another program folder, the same library adopted: nothing to fetch.
  m_site.ClearRequests();
  const ShellRun adopted = RunShell(Cli("sync adopt " + Library(), "other") + " 2>&1");
  EXPECT_NE(adopted.output.find("已记录 48 个视频"), std::string::npos) << adopted.output;
  ASSERT_EQ(RunShell(Cli("sync add " + test::ShellQuote(folder), "other")).exitCode, 0);
  const ShellRun after = Sync("other");
  EXPECT_EQ(after.exitCode, 0) << after.output;
  EXPECT_NE(after.output.find("新视频 0，已下载 0，失败 0"), std::string::npos) << after.output;
  EXPECT_EQ(MediaGets(), 0);
  EXPECT_EQ(Requests(kFavouritesPath), 1);
}

// Sources read whole in their own order: the first run downloads everything
// (a season's VIP-only episode is left for a VIP log-in), and after the
// source grows the next run downloads exactly the new ones. A season is
// followed by episode, from an ep link's season; with --extras its 番外/PV
// too (the season keeps the episode the case before added).
TEST_F(KorvidCliSync, CollectionsSeriesAndSeasonsAcrossRuns) {
  const std::string base = m_site.BaseUrl();
  struct Case {
    const char* name;
    std::string link;
    const char* options;  // of sync add
    const char* said;     // by sync add
    std::int64_t growId;
    int grow;
    const char* kind;   // as sync list shows it
    const char* first;  // the first run's result
    const char* second;
    const char* newest;  // in the history after the second run
  };
  const Case cases[] = {
      {.name = "collection",
       .link = base + "/20061/channel/collectiondetail?sid=1227671",
       .options = "",
       .said = "合集 1227671",
       .growId = 1227671,
       .grow = 2,
       .kind = "\t合集\t",
       .first = "合集 1227671: 新视频 35，已下载 35，失败 0",
       .second = "合集 1227671: 新视频 2，已下载 2，失败 0",
       .newest = "BV1sa0000037"},
      {.name = "series",
       .link = base + "/20200/lists/534501?type=series",
       .options = "",
       .said = "列表 534501",
       .growId = 534501,
       .grow = 3,
       .kind = "\t列表\t",
       .first = "列表 534501: 新视频 25，已下载 25，失败 0",
       .second = "列表 534501: 新视频 3，已下载 3，失败 0",
       .newest = "BV1sc0000028"},
      {.name = "season from an episode link",
       .link = base + "/bangumi/play/ep606592",
       .options = "",
       .said = "订阅整季",
       .growId = 42290,
       .grow = 1,
       .kind = "\t番剧\t",
       .first = "测试番剧: 罪犯/新选组 & 其他: 新视频 2，已下载 2，失败 0",
       .second = "测试番剧: 罪犯/新选组 & 其他: 新视频 1，已下载 1，失败 0",
       .newest = "\"episode\": \"700001\""},
      {.name = "season with its extras from a media link",
       .link = base + "/bangumi/media/md28339735",
       .options = " --extras",
       .said = "测试番剧",
       .growId = 42290,
       .grow = 1,
       .kind = "\t番剧+番外/PV\t",
       .first = "测试番剧: 罪犯/新选组 & 其他: 新视频 5，已下载 5，失败 0",
       .second = "测试番剧: 罪犯/新选组 & 其他: 新视频 1，已下载 1，失败 0",
       .newest = "\"episode\": \"700002\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string home = std::string("home-") + c.name;
    const ShellRun added =
        RunShell(Cli("sync add " + test::ShellQuote(c.link) + c.options, home) + " 2>&1");
    ASSERT_EQ(added.exitCode, 0) << added.output;
    EXPECT_NE(added.output.find(c.said), std::string::npos) << added.output;
    EXPECT_NE(RunShell(Cli("sync list", home)).output.find(c.kind), std::string::npos);

    const ShellRun first = Sync(home);
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_NE(first.output.find(c.first), std::string::npos) << first.output;

    ASSERT_TRUE(m_site.GrowList(c.growId, c.grow));
    m_site.ClearRequests();
    const ShellRun second = Sync(home);
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_NE(second.output.find(c.second), std::string::npos) << second.output;
    EXPECT_EQ(MediaGets(), c.grow) << second.output;
    EXPECT_NE(RunShell(Cli("history --json", home)).output.find(c.newest), std::string::npos);
  }
}

// Watch later is followed with the log-in: without it each run says so and
// fails; with it the list is read whole and only the new entries fetched.
TEST_F(KorvidCliSync, WatchLaterIsFollowedWithTheLogIn) {
  ASSERT_EQ(RunShell(Cli("sync add '" + m_site.BaseUrl() + "/watchlater/#/list'")).exitCode, 0);
  const ShellRun anonymous = Sync();
  EXPECT_EQ(anonymous.exitCode, 1) << anonymous.output;
  EXPECT_NE(anonymous.output.find("稍后再看需要登录"), std::string::npos) << anonymous.output;

  ASSERT_EQ(
      RunShell(Cli("set 编辑框_cookies 'SESSDATA=5f1a2b3c%2C1893456000%2Cd4e5f*61'")).exitCode, 0);
  for (const char* result :
       {"稍后再看: 新视频 3，已下载 3，失败 0", "稍后再看: 新视频 0，已下载 0，失败 0"}) {
    const ShellRun synced = Sync();
    EXPECT_EQ(synced.exitCode, 0) << synced.output;
    EXPECT_NE(synced.output.find(result), std::string::npos) << synced.output;
  }
}

// A sync killed with SIGKILL once a file is done (and the list is read); the next run finishes the
// rest without fetching a finished file again, with the list refused by risk
// control twice on the way. The refused video is noted once.
TEST_F(KorvidCliSync, AKilledSyncIsFinishedByTheNextRun) {
  const std::string gone = "BV1sb0000005";
  m_site.SetUnreadable(gone);
  ASSERT_EQ(RunShell(Cli("sync add " + m_site.BaseUrl() + "/" + std::to_string(kSpace))).exitCode,
            0);
  m_site.SetFault("/media/", Fault::Throttle(40'000));
  const std::string out = test::ShellQuote((m_sandbox / "out.txt").string());
  const ShellRun killed = RunShell(
      "(" + Cli("sync --pause 0 --max 1 --dir " + Library()) + " >" + out +
      " 2>&1 & pid=$!; for i in $(seq 300); do " + Cli("history") +
      " | grep -q BV && grep -q 视频已失效 " + out +
      " && break; sleep 0.1; done; kill -9 $pid; wait $pid; echo killed=$?; cat " + out + ")");
  EXPECT_NE(killed.output.find("killed=137"), std::string::npos) << killed.output;
  EXPECT_EQ(Count(killed.output, gone + ": 视频已失效"), 1) << killed.output;
  const std::vector<std::string> done = HistoryCids();
  const int finished = static_cast<int>(done.size());
  ASSERT_GE(finished, 1);

  m_site.ClearFaults();
  m_site.SetFault("/x/space/", Fault::Blocked().Times(2));
  m_site.ClearRequests();
  const ShellRun rerun = Sync();
  EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
  EXPECT_NE(rerun.output.find("后重试"), std::string::npos) << rerun.output;
  EXPECT_EQ(rerun.output.find(gone), std::string::npos) << rerun.output;
  // The file cut off is continued; a finished one is at most asked its size.
  EXPECT_LE(MediaGets(), 29 - finished) << rerun.output;
  for (const auto& request : m_site.Requests()) {
    if (request.method != "GET" || !request.path.starts_with("/media/")) continue;
    for (const std::string& cid : done) {
      EXPECT_EQ(request.path.find(cid), std::string::npos) << request.path;
    }
  }
  EXPECT_EQ(Count(RunShell(Cli("history")).output, "\n"), 29);

  m_site.SetFault("/x/space/", Fault::Blocked());
  const ShellRun blocked = Sync();
  EXPECT_EQ(blocked.exitCode, 1) << blocked.output;
  EXPECT_NE(blocked.output.find("被风控拦截"), std::string::npos) << blocked.output;

  m_site.ClearFaults();
  m_site.ClearRequests();
  const ShellRun quiet = Sync();
  EXPECT_EQ(quiet.exitCode, 0) << quiet.output;
  EXPECT_NE(quiet.output.find("新视频 0，已下载 0，失败 0"), std::string::npos) << quiet.output;
  EXPECT_EQ(Requests("/x/web-interface/view") + Requests("/video/" + gone), 0);
}

// --every: a run now and one after each period; the folder grows in
// between and the next run fetches the new videos; SIGTERM between runs ends
// it cleanly.
TEST_F(KorvidCliSync, EveryRunsUntilSigterm) {
  constexpr std::int64_t kEmptyFolder = 30000;
  ASSERT_EQ(RunShell(Cli("sync add " + m_site.BaseUrl() +
                         "/1/favlist?fid=" + std::to_string(kEmptyFolder)))
                .exitCode,
            0);
  const std::string out = test::ShellQuote((m_sandbox / "every.txt").string());
  const auto wait = [&](const std::string& text) {
    return "for i in $(seq 600); do grep -q '" + text + "' " + out + " && break; sleep 0.1; done; ";
  };
  const std::string script =
      "(" + Cli("sync --every 1s --pause 0 --dir " + Library()) + " >" + out + " 2>&1 & pid=$!; " +
      wait("新视频 0") +
      Cli("fetch '" + m_site.BaseUrl() + "/fakesite/grow?list=" + std::to_string(kEmptyFolder) +
          "&add=2'") +
      " >/dev/null 2>&1; " + wait("新视频 2，已下载 2") +
      "kill -TERM $pid; wait $pid; echo ended=$?; cat " + out + ")";
  const ShellRun run = RunShell(script);
  EXPECT_NE(run.output.find("ended=0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("新视频 2，已下载 2，失败 0"), std::string::npos) << run.output;
  EXPECT_EQ(Count(RunShell(Cli("history")).output, "\n"), 2);
}

}  // namespace
}  // namespace korvid

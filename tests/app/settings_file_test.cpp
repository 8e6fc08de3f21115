#include "app/settings_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include "controls/window_layout.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

std::string ToGbk(const std::string& utf8) {
  iconv_t converter = iconv_open("GBK", "UTF-8");
  std::string input = utf8;
  std::string output(utf8.size() * 2 + 8, '\0');
  char* in = input.data();
  char* out = output.data();
  std::size_t inLeft = input.size();
  std::size_t outLeft = output.size();
  iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  output.resize(output.size() - outLeft);
  return output;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateMainWindowControls(saved);
    CreateMainWindowControls(restored);
    path = (sandbox / "配置" / "Korvid配置.ini").string();
    std::filesystem::create_directories(sandbox / "配置");
  }
  test::Sandbox sandbox;
  ControlStore saved;
  ControlStore restored;
  std::string path;
};

TEST_F(SettingsFileTest, RoundTripKeepsTextsChecksAndDropDowns) {
  saved.SetText("编辑框_弹幕样式", "Style: A\nStyle: B\r\nStyle: C");
  saved.SetText("编辑框_cookies", "SESSDATA=\"a,b\"; bili_jct=x=y");
  saved.SetText("编辑框_emby_url", "http://nas:8096/?a=b==c");
  saved.SetText("编辑框_解析下载", "");
  saved.SetChecked("选择框_按类型分组", true);
  saved.ClearItems("下拉框_默认下载源");
  saved.AddItem("下拉框_默认下载源", {"1080P 高清 H.264", 80});
  saved.AddItem("下拉框_默认下载源", {"4K \"超清\" H.265", 1120});
  saved.SelectIndex("下拉框_默认下载源", 1);
  ASSERT_TRUE(SaveStates(saved, path));

  const std::string file = test::ReadWholeFile(path);
  EXPECT_NE(file.find("编辑框_弹幕样式=Style: A><br><Style: B><br><Style: C\n"), std::string::npos);
  EXPECT_NE(file.find("编辑框_cookies=SESSDATA=#引号a,b#引号; bili_jct=x=y\n"), std::string::npos);
  EXPECT_NE(file.find("选择框_按类型分组=真\n"), std::string::npos);
  EXPECT_NE(file.find("选择框_按演员分组=假\n"), std::string::npos);
  EXPECT_NE(
      file.find("下拉框_默认下载源=1080P 高清 H.264<|>80<||>4K #引号超清#引号 H.265<|>1120<||>"
                "1<|>4K #引号超清#引号 H.265\n"),
      std::string::npos);

  restored.SetText("编辑框_解析下载", "kept");
  ASSERT_TRUE(RestoreStates(restored, path));
  // Line breaks come back as CR LF, as the control store keeps them.
  EXPECT_EQ(restored.Text("编辑框_弹幕样式"), "Style: A\r\nStyle: B\r\nStyle: C");
  EXPECT_EQ(restored.Text("编辑框_cookies"), "SESSDATA=\"a,b\"; bili_jct=x=y");
  EXPECT_EQ(restored.Text("编辑框_emby_url"), "http://nas:8096/?a=b==c");
  EXPECT_EQ(restored.Text("编辑框_解析下载"), "kept");  // empty value: left as it was
  EXPECT_TRUE(restored.Checked("选择框_按类型分组"));
  EXPECT_FALSE(restored.Checked("选择框_按演员分组"));
  EXPECT_EQ(restored.Items("下拉框_默认下载源"), saved.Items("下拉框_默认下载源"));
  EXPECT_EQ(restored.Items("下拉框_默认下载源")[1].color, kDropItemColor);
  EXPECT_EQ(restored.SelectedIndex("下拉框_默认下载源"), 1);
  EXPECT_EQ(restored.SelectedValue("下拉框_默认下载源"), 1120);
  EXPECT_EQ(restored.Text("下拉框_默认下载源"), "4K \"超清\" H.265");
  EXPECT_EQ(restored.Items("下拉框_热键"), saved.Items("下拉框_热键"));
  EXPECT_EQ(restored.SelectedIndex("下拉框_热键"), saved.SelectedIndex("下拉框_热键"));
}

TEST_F(SettingsFileTest, AnyTextButFalseChecksAndShownTextMayDifferFromItem) {
  ASSERT_TRUE(sandbox.WriteFile("配置/Korvid配置.ini",
                                "[选择框]\r\n选择框_按类型分组=1\r\n选择框_按演员分组=假\r\n"
                                "选择框_监控剪辑版=\r\n[组合框]\r\n"
                                "下拉框_视频part=P1<|>0<||>P2<|>0<||>0<|>自选\r\n"));
  restored.SetChecked("选择框_按演员分组", true);
  restored.SetChecked("选择框_监控剪辑版", true);
  ASSERT_TRUE(RestoreStates(restored, path));
  EXPECT_TRUE(restored.Checked("选择框_按类型分组"));
  EXPECT_FALSE(restored.Checked("选择框_按演员分组"));
  EXPECT_TRUE(restored.Checked("选择框_监控剪辑版"));  // empty value: unchanged
  EXPECT_EQ(restored.Items("下拉框_视频part").size(), 2u);
  EXPECT_EQ(restored.SelectedIndex("下拉框_视频part"), 0);
  EXPECT_EQ(restored.Text("下拉框_视频part"), "自选");
}

TEST_F(SettingsFileTest, MissingFileRestoresNothingAndBinaryLinesAreSkipped) {
  EXPECT_FALSE(RestoreStates(restored, (sandbox / "nowhere.ini").string()));
  static constexpr char kPng[] =
      "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\xff\n[编辑框]\n编辑框_最大线程=9\n\xff\xfe\xff[\x80\x80\n";
  ASSERT_TRUE(sandbox.WriteFile("配置/Korvid配置.ini", std::string(kPng, sizeof kPng - 1)));
  EXPECT_TRUE(RestoreStates(restored, path));
  EXPECT_EQ(restored.Text("编辑框_最大线程"), "9");
  EXPECT_TRUE(restored.TakeNotices().empty());
}

// What the details panel and `set` may hand over: bytes that are not UTF-8,
// NUL from a "\u0000" in a description, line breaks. Each must read back, and
// the log-in cookie and the [站点] section must outlive the next save.
TEST_F(SettingsFileTest, AnyValueReadsBackAndKeepsTheOtherSettings) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("abc\xff"), "abc\xEF\xBF\xBD"},
      {std::string("a\0b", 3), "ab"},
      {std::string("\xC3\x28 \xE4\xB8"), "\xEF\xBF\xBD( \xEF\xBF\xBD\xEF\xBF\xBD"},
      {"一\r\n二\n", "一\r\n二\r\n"},
  };
  ASSERT_TRUE(sandbox.WriteFile("配置/Korvid配置.ini", "[站点]\nweb=http://127.0.0.1:8080\n"));
  saved.SetText("编辑框_cookies", "SESSDATA=secret");
  for (const auto& [value, readBack] : cases) {
    saved.SetText("编辑框_关键词", value);
    ASSERT_TRUE(SaveStates(saved, path));
    ASSERT_TRUE(SaveState(saved, "编辑框_关键词", path));
    ControlStore again;
    CreateMainWindowControls(again);
    ASSERT_TRUE(RestoreStates(again, path));
    EXPECT_EQ(again.Text("编辑框_关键词"), readBack);
    EXPECT_EQ(again.Text("编辑框_cookies"), "SESSDATA=secret");
    IniFile ini;
    ASSERT_TRUE(ini.Load(path));
    EXPECT_EQ(ini.Get("站点", "web"), "http://127.0.0.1:8080");
  }
}

TEST(IniFile, EachLineIsDecodedOnItsOwn) {
  IniFile ini;
  ASSERT_TRUE(ini.Parse("[编辑框]\nutf8=下载\n" + ToGbk("gbk=视频") + "\nbroken=a\xff\n" +
                        std::string("nul=x\0y\n", 8) + "[\xff]\nafter=kept\n"));
  EXPECT_EQ(ini.Get("编辑框", "utf8"), "下载");
  EXPECT_EQ(ini.Get("编辑框", "gbk"), "视频");
  EXPECT_EQ(ini.Get("编辑框", "broken"), "a\xEF\xBF\xBD");
  EXPECT_EQ(ini.Get("编辑框", "nul"), "xy");
  EXPECT_EQ(ini.Get("编辑框", "after"), "kept");  // a damaged line opens no section
}

TEST(IniFile, TenThousandLinesOfRandomBytesKeepTheReadableLines) {
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 80);
  std::string file;
  constexpr int kLines = 10'000;
  constexpr int kEvery = 50;
  for (int line = 0; line < kLines; ++line) {
    if (line % kEvery == 0) {
      file += "[编辑框]\nkey" + std::to_string(line) + "=值" + std::to_string(line) + "\n";
    }
    for (int n = length(random); n > 0; --n) {
      const char c = static_cast<char>(byte(random));
      file += c == '\n' ? ' ' : c;
    }
    file += '\n';
  }
  IniFile ini;
  ASSERT_TRUE(ini.Parse(file));
  for (int line = 0; line < kLines; line += kEvery) {
    EXPECT_EQ(ini.Get("编辑框", "key" + std::to_string(line)), "值" + std::to_string(line));
  }
  IniFile again;
  ASSERT_TRUE(again.Parse(ini.ToText()));
  EXPECT_EQ(again.ToText(), ini.ToText());
}

// Whatever sits at the settings path, the start neither hangs, grows nor
// throws; what cannot be read is kept under a new name and never overwritten.
TEST_F(SettingsFileTest, UnreadablePathsAreSetAsideWithANotice) {
  struct Case {
    const char* what;
    std::function<bool()> make;
  };
  const std::vector<Case> cases = {
      {"folder", [&] { return std::filesystem::create_directory(path); }},
      {"link to /dev/zero", [&] { return ::symlink("/dev/zero", path.c_str()) == 0; }},
      {"fifo", [&] { return ::mkfifo(path.c_str(), 0600) == 0; }},
      {"file above the size limit",
       [&] {
         return sandbox.WriteFile("配置/Korvid配置.ini", "[编辑框]\n编辑框_最大线程=9\n") &&
                ::truncate(path.c_str(), IniFile::kMaxFileBytes + 1) == 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(sandbox / "配置");
    std::filesystem::create_directories(sandbox / "配置");
    ASSERT_TRUE(c.make());
    ControlStore controls;
    CreateMainWindowControls(controls);
    EXPECT_FALSE(RestoreStates(controls, path));
    EXPECT_EQ(controls.Text("编辑框_最大线程"), "3");
    const auto notices = controls.TakeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].title, kNoticeFailed);
    EXPECT_NE(notices[0].text.find("Korvid配置.ini.unreadable-1"), std::string::npos);
    struct stat kept {};
    EXPECT_EQ(::lstat((path + ".unreadable-1").c_str(), &kept), 0);
    ASSERT_TRUE(SaveStates(controls, path));
    IniFile ini;
    EXPECT_TRUE(ini.Load(path));
  }
}

TEST_F(SettingsFileTest, TwoWritersOfDifferentKeysLoseNothing) {
  constexpr int kRounds = 20;
  auto writer = [&](const std::string& name) {
    ControlStore controls;
    CreateMainWindowControls(controls);
    bool ok = true;
    for (int round = 1; round <= kRounds; ++round) {
      controls.SetText(name, std::to_string(round));
      ok = SaveState(controls, name, path) && ok;
    }
    return ok;
  };
  bool firstOk = false;
  bool secondOk = false;
  std::thread first([&] { firstOk = writer("编辑框_关键词"); });
  std::thread second([&] { secondOk = writer("编辑框_emby_url"); });
  first.join();
  second.join();
  EXPECT_TRUE(firstOk);
  EXPECT_TRUE(secondOk);
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  EXPECT_EQ(ini.Get("编辑框", "编辑框_关键词"), std::to_string(kRounds));
  EXPECT_EQ(ini.Get("编辑框", "编辑框_emby_url"), std::to_string(kRounds));
}

TEST_F(SettingsFileTest, GbkFileFromOlderVersionsLoads) {
  ASSERT_TRUE(sandbox.WriteFile(
      "配置/Korvid配置.ini",
      ToGbk(
          "[编辑框]\r\n编辑框_下载路径=D:\\视频\\下载\r\n编辑框_屏蔽弹幕=打卡,#引号好#引号\r\n")));
  ASSERT_TRUE(RestoreStates(restored, path));
  EXPECT_EQ(restored.Text("编辑框_下载路径"), "D:\\视频\\下载");
  EXPECT_EQ(restored.Text("编辑框_屏蔽弹幕"), "打卡,\"好\"");
}

TEST_F(SettingsFileTest, SaveIsPrivateAtomicAndKeepsOtherSections) {
  ASSERT_TRUE(sandbox.WriteFile("配置/Korvid配置.ini", "[站点]\nweb=http://127.0.0.1:8080\n"));
  ::chmod(path.c_str(), 0644);
  saved.SetText("编辑框_cookies", "SESSDATA=secret");
  ASSERT_TRUE(SaveStates(saved, path));

  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(sandbox / "配置")) {
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"Korvid配置.ini", "Korvid配置.ini.lock"}));

  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  EXPECT_EQ(ini.Get("站点", "web"), "http://127.0.0.1:8080");
  EXPECT_EQ(ini.Get("编辑框", "编辑框_cookies"), "SESSDATA=secret");

  EXPECT_FALSE(SaveStates(saved, (sandbox / "missing" / "x.ini").string()));
}

TEST(IniFile, ParsesLinesLikeThePrivateProfileFunctions) {
  IniFile ini;
  ASSERT_TRUE(
      ini.Parse("\xEF\xBB\xBF"
                "orphan=1\r\n; comment\r\n[ 站点 ]\r\n  web = http://a/?x=1 \r\nweb=second\r\n"
                "empty=\n[编辑框]\nkey=v\n"));
  EXPECT_EQ(ini.Get("站点", "web"), " http://a/?x=1 ");  // values are not trimmed
  EXPECT_TRUE(ini.Has("站点", "empty"));
  EXPECT_EQ(ini.Get("站点", "empty"), "");
  EXPECT_FALSE(ini.Has("站点", "orphan"));
  EXPECT_EQ(ini.Get("编辑框", "key"), "v");
  EXPECT_EQ(ini.Get("编辑框", "none"), "");

  ini.Set("编辑框", "key", "line1\nline2");
  ini.Set("新", "k", "v=w");
  EXPECT_EQ(ini.Get("编辑框", "key"), "line1line2");
  IniFile again;
  ASSERT_TRUE(again.Parse(ini.ToText()));
  EXPECT_EQ(again.Get("新", "k"), "v=w");
  EXPECT_EQ(again.Get("站点", "web"), " http://a/?x=1 ");
}

TEST(SettingsEncoding, EditTextAndDropDownForms) {
  EXPECT_EQ(EncodeEditText("a\r\nb\nc\"d\""), "a><br><b><br><c#引号d#引号");
  EXPECT_EQ(DecodeEditText("a><br><b#引号"), "a\r\nb\"");
  EXPECT_EQ(DecodeEditText(EncodeEditText("x\r\ny\r\n")), "x\r\ny\r\n");
  EXPECT_EQ(EncodeDropDown({{"A", 1}, {"B", 2}}, 1, "B"), "A<|>1<||>B<|>2<||>1<|>B");
  EXPECT_EQ(EncodeDropDown({}, -1, ""), "-1<|>");
}

}  // namespace
}  // namespace korvid

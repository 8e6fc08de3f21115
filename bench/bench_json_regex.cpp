// Times the JSON reader on a large video answer and the regular expressions on
// a large comment document, and prints the peak memory use.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "net/json_document.h"
#include "net/regex_matcher.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kJsonTargetBytes = 1 << 20;
constexpr std::size_t kCommentTargetBytes = 20 << 20;
constexpr int kPathReads = 1000;
constexpr int kParseRounds = 20;
constexpr const char* kDanmakuPattern =
    R"re(<d p="(.+?),(.+?),(.+?),(.+?),(.+?),(.+?),(.+?),(.+?)">(.+?)</d>)re";

const std::filesystem::path kDataDir = KORVID_TEST_DATA_DIR;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The 10-page detail answer with its page list repeated until the text is
// about 1 MB, each copy with its own cid.
std::string LargeViewAnswer() {
  korvid::JsonDocument document;
  if (!document.Parse(ReadFile(kDataDir / "api" / "view_detail_BV17x411w7KC_10pages.json"))) {
    return {};
  }
  const korvid::JsonDocument pages = document.GetObject("data.View.pages");
  const int pageCount = pages.GetCount();
  const std::size_t startBytes = document.ToText().size();
  const std::size_t copies = (kJsonTargetBytes - std::min(startBytes, kJsonTargetBytes)) /
                                 std::max<std::size_t>(pages.ToText().size(), 1) +
                             1;
  for (std::size_t copy = 0; copy < copies; ++copy) {
    for (int i = 0; i < pageCount; ++i) {
      korvid::JsonDocument page = pages.GetItemObject(i);
      (void)page.SetNumber("cid", 35306865840.0 + static_cast<double>(copy * 100 + i));
      (void)document.Append("data.View.pages", page.ToText(), true);
    }
  }
  return document.ToText();
}

void BenchJson() {
  const std::string text = LargeViewAnswer();
  korvid::JsonDocument document;
  auto start = Clock::now();
  for (int round = 0; round < kParseRounds; ++round) (void)document.Parse(text);
  const double parseMs = MillisecondsSince(start) / kParseRounds;
  const int pages = document.GetCount("data.View.pages");

  start = Clock::now();
  std::size_t readBytes = 0;
  for (int i = 0; i < kPathReads; ++i) {
    const std::string index = std::to_string(i * 7 % pages);
    readBytes += document.GetValue("data.View.pages[" + index + "].cid").size();
    readBytes += document.GetValue("data.View.pages[" + index + "]['part']").size();
  }
  const double readMs = MillisecondsSince(start);

  start = Clock::now();
  const std::string again = document.ToText();
  const double writeMs = MillisecondsSince(start);

  std::printf(
      "json: %.2f MB, %d pages; parse %.2f ms; %d path reads x2 %.2f ms (%.2f us each, "
      "%zu bytes); ToText %.2f ms (%zu bytes)\n",
      static_cast<double>(text.size()) / (1 << 20), pages, parseMs, kPathReads, readMs,
      readMs * 1000 / (2 * kPathReads), readBytes, writeMs, again.size());
}

std::string LargeCommentDocument() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(kDataDir / "danmaku")) {
    if (entry.path().extension() == ".xml") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::string all;
  for (const auto& file : files) all += ReadFile(file);
  std::string document;
  document.reserve(kCommentTargetBytes + all.size());
  while (!all.empty() && document.size() < kCommentTargetBytes) document += all;
  return document;
}

void BenchRegex() {
  const std::string document = LargeCommentDocument();
  korvid::RegexMatcher matcher;
  auto start = Clock::now();
  const bool ran = matcher.Execute(kDanmakuPattern, document);
  const double executeMs = MillisecondsSince(start);

  start = Clock::now();
  std::size_t textBytes = 0;
  long long positionSum = 0;
  for (int n = 1; n <= matcher.Count(); ++n) {
    int position = 0;
    textBytes += matcher.SubMatchText(n, 9, &position).size();
    positionSum += position;
  }
  const double readMs = MillisecondsSince(start);

  start = Clock::now();
  const std::string replaced = matcher.Replace("$9\n");
  const double replaceMs = MillisecondsSince(start);

  std::vector<std::string> texts;
  start = Clock::now();
  const int between = korvid::TextBetweenAll(document, "\">", "</d>", texts);
  const double betweenMs = MillisecondsSince(start);

  std::printf(
      "regex: %.2f MB comments; Execute %s %.1f ms, %d matches; group 9 with positions "
      "%.1f ms (%zu bytes, position sum %lld); Replace %.1f ms (%zu bytes); "
      "TextBetweenAll %.1f ms, %d texts\n",
      static_cast<double>(document.size()) / (1 << 20), ran ? "ok" : "FAILED", executeMs,
      matcher.Count(), readMs, textBytes, positionSum, replaceMs, replaced.size(), betweenMs,
      between);
}

}  // namespace

int main() {
  BenchJson();
  std::printf("peak RSS after json: %ld KiB\n", PeakRssKib());
  BenchRegex();
  std::printf("peak RSS after regex: %ld KiB\n", PeakRssKib());
  return 0;
}

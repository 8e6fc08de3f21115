// nfo: the tvshow.nfo of a saved task record or view API answer.

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include "app/file_helpers.h"
#include "app/tasks/task_record.h"
#include "cli/cli_command.h"
#include "library/nfo_writer.h"
#include "net/json_document.h"

namespace korvid::cli {
namespace {

struct NfoArgs {
  std::string record;
  std::string output;
  int page = 1;
  bool fetchTags = true;
};

bool ParseNfoArgs(const Args& args, NfoArgs& nfo) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if ((arg == "-o" || arg == "--output") && i + 1 < args.size()) {
      nfo.output = args[++i];
    } else if (arg == "--page" && i + 1 < args.size()) {
      nfo.page = std::atoi(args[++i].c_str());
      if (nfo.page < 1) return false;
    } else if (arg == "--no-tags") {
      nfo.fetchTags = false;
    } else if (nfo.record.empty() && (arg == "-" || !arg.starts_with("-"))) {
      nfo.record = arg;
    } else {
      return false;
    }
  }
  return !nfo.record.empty();
}

std::optional<std::string> ReadRecord(const std::string& path) {
  if (path == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin), {});
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// A bare view answer becomes the record of one of its pages, as the task list
// would have made it; a saved task record is used as it is.
std::string AsTaskRecord(const std::string& text, int page) {
  JsonDocument record;
  if (!record.Parse(text) || record.Exists(record::kCid)) return text;
  const std::string pagePath = "data.pages[" + std::to_string(page - 1) + "]";
  (void)record.SetValue(record::kCid, record.GetValue(pagePath + ".cid"));
  (void)record.SetValue(record::kPart, record.GetValue(pagePath + ".part"));
  (void)record.SetValue(record::kEpisode, std::to_string(page));
  return record.ToText();
}

int WriteNfo(const Args& args) {
  NfoArgs nfo;
  if (!ParseNfoArgs(args, nfo)) return Fail("nfo needs one RECORD.json (see --help)");
  const std::optional<std::string> record = ReadRecord(nfo.record);
  if (!record) return Fail("cannot read " + nfo.record);
  JsonParseError error;
  JsonDocument parsed;
  if (!parsed.Parse(*record, false, &error)) {
    return Fail(nfo.record + " is not JSON (line " + std::to_string(error.line) + ", column " +
                std::to_string(error.column) + ": " + error.description + ")");
  }
  if (parsed.GetValue("data.bvid").empty()) {
    return Fail(nfo.record + " holds no video: data.bvid is missing (a view API answer?)");
  }
  Core core;  // the site hosts of the settings file, for the page tags
  const std::string task = AsTaskRecord(*record, nfo.page);
  const std::string text = nfo.fetchTags
                               ? BuildNfo(task)
                               : BuildNfo(task, [](std::string_view) { return std::string(); });
  if (nfo.output.empty()) {
    std::cout << text;
    return std::cout.flush() ? 0 : 1;
  }
  if (!WriteFileAtomically(nfo.output, text)) return Fail("cannot write " + nfo.output);
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND("nfo",
                   "nfo RECORD.json [-o FILE] [--page N] [--no-tags]\n"
                   "                      the tvshow.nfo of a saved task record, or of page N\n"
                   "                      (default 1) of a saved view API answer; - reads\n"
                   "                      stdin; the video page's tags are fetched unless\n"
                   "                      --no-tags; to stdout or FILE",
                   WriteNfo, 40);

}  // namespace korvid::cli

// nfo: the tvshow.nfo of a saved task record or view API answer.

#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include "cli/cli_command.h"
#include "library/atomic_file.h"
#include "library/nfo_writer.h"
#include "net/json_document.h"

namespace korvid::cli {
namespace {

struct NfoArgs {
  std::string record;
  std::string output;
  bool fetchTags = true;
};

bool ParseNfoArgs(const Args& args, NfoArgs& nfo) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if ((arg == "-o" || arg == "--output") && i + 1 < args.size()) {
      nfo.output = args[++i];
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

int WriteNfo(const Args& args) {
  NfoArgs nfo;
  if (!ParseNfoArgs(args, nfo)) return Fail("nfo needs one RECORD.json (see --help)");
  const std::optional<std::string> record = ReadRecord(nfo.record);
  if (!record) return Fail("cannot read " + nfo.record);
  JsonParseError error;
  if (!JsonDocument().Parse(*record, false, &error)) {
    return Fail(nfo.record + " is not JSON (line " + std::to_string(error.line) + ", column " +
                std::to_string(error.column) + ": " + error.description + ")");
  }
  Core core;  // the site hosts of the settings file, for the page tags
  const std::string text =
      nfo.fetchTags ? BuildNfo(*record) : BuildNfo(*record, [](std::string_view) { return ""; });
  if (nfo.output.empty()) {
    std::cout << text;
    return std::cout.flush() ? 0 : 1;
  }
  if (!WriteFileAtomically(nfo.output, text)) return Fail("cannot write " + nfo.output);
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND("nfo",
                   "nfo RECORD.json [-o FILE] [--no-tags]\n"
                   "                      the tvshow.nfo of a saved task record or view API\n"
                   "                      answer (- reads stdin); the video page's tags are\n"
                   "                      fetched unless --no-tags; to stdout or FILE",
                   WriteNfo, 40);

}  // namespace korvid::cli

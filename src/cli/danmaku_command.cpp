// danmaku: converts a saved comment document into an ASS subtitle.

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string_view>
#include <utility>

#include "app/file_helpers.h"
#include "cli/cli_command.h"
#include "danmaku/danmaku_to_ass.h"
#include "danmaku/inflate_raw.h"

namespace korvid::cli {
namespace {

struct DanmakuArgs {
  std::string input;
  std::string cid;
  std::string bvid;
  std::string output;
  std::optional<std::string> scrollSize;
  std::optional<std::string> fixedSize;
  std::optional<std::string> blockList;
  std::optional<std::string> style;
};

// Empty on success, else what is wrong with the arguments.
std::string ParseDanmakuArgs(const Args& args, DanmakuArgs& parsed) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    std::string* text = nullptr;
    std::optional<std::string>* setting = nullptr;
    if (arg == "--cid") text = &parsed.cid;
    if (arg == "--bvid") text = &parsed.bvid;
    if (arg == "-o" || arg == "--output") text = &parsed.output;
    if (arg == "--scroll-size") setting = &parsed.scrollSize;
    if (arg == "--fixed-size") setting = &parsed.fixedSize;
    if (arg == "--block") setting = &parsed.blockList;
    if (arg == "--style") setting = &parsed.style;
    if ((text != nullptr || setting != nullptr) && !hasValue) return arg + " needs a value";
    if (text != nullptr) {
      *text = args[++i];
    } else if (setting != nullptr) {
      *setting = args[++i];
    } else if (parsed.input.empty() && !arg.starts_with("-")) {
      parsed.input = arg;
    } else {
      return "unexpected argument \"" + arg + "\"";
    }
  }
  if (parsed.input.empty()) return "danmaku needs a comment file";
  if (parsed.cid.empty() || parsed.cid.find_first_not_of("0123456789") != std::string::npos) {
    return "--cid needs the page's cid (a decimal number)";
  }
  if (parsed.bvid.empty()) return "--bvid needs the video's BV identifier";
  return {};
}

DanmakuSettings SettingsFor(const Controls& controls, const DanmakuArgs& args) {
  DanmakuSettings settings = ReadDanmakuSettings(controls);
  if (args.scrollSize) settings.scrollSize = *args.scrollSize;
  if (args.fixedSize) settings.fixedSize = *args.fixedSize;
  if (args.blockList) settings.blockList = *args.blockList;
  if (args.style) settings.style = *args.style;
  return settings;
}

int ConvertDanmaku(const Args& args) {
  DanmakuArgs parsed;
  if (const std::string problem = ParseDanmakuArgs(args, parsed); !problem.empty()) {
    return Fail(problem + " (see --help)");
  }
  errno = 0;
  std::optional<FileBuffer> file = ReadFileBuffer(parsed.input);
  if (!file) {
    return Fail("cannot read " + parsed.input + ": " +
                (errno != 0 ? std::strerror(errno) : "read error"));
  }
  std::string inflated;
  const std::optional<std::string_view> document = FindCommentDocument(file->View(), inflated);
  if (!document) return Fail(parsed.input + " is neither raw deflate nor an XML comment document");
  // Inflated, the compressed bytes are not needed any more.
  if (!inflated.empty()) file.reset();

  Core core;
  DanmakuStats stats;
  const DanmakuSettings settings = SettingsFor(core.controls, parsed);
  // Written as it is made: a long subtitle is never held whole.
  if (parsed.output.empty()) {
    const bool written = WriteDanmakuAss(
        *document, parsed.cid, parsed.bvid, settings,
        [](std::string_view piece) {
          return static_cast<bool>(
              std::cout.write(piece.data(), static_cast<std::streamsize>(piece.size())));
        },
        &stats);
    if (!written || !std::cout.flush()) return Fail("could not write the subtitle to stdout");
  } else {
    AtomicFileWriter writer(parsed.output);
    const bool written = WriteDanmakuAss(
        *document, parsed.cid, parsed.bvid, settings,
        [&writer](std::string_view piece) { return writer.Append(piece); }, &stats);
    if (!written || !writer.Commit()) return Fail("could not write " + parsed.output);
  }
  std::cerr << stats.found << " comments, " << stats.shown << " shown\n";
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND(
    "danmaku",
    "danmaku FILE --cid CID --bvid BVID [-o OUT] [--scroll-size N] [--fixed-size N]\n"
    "          [--block TEXT] [--style TEXT]\n"
    "                        converts a comment file (raw deflate or XML) into an ASS\n"
    "                        subtitle, to stdout or OUT; the options override the\n"
    "                        saved settings (--block \"\" blocks nothing)",
    ConvertDanmaku, 40);

}  // namespace korvid::cli

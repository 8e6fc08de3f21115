// fetch: one request through Korvid's HTTP client.

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <iostream>

#include "cli/cli_command.h"
#include "download/download_engine.h"
#include "net/http_client.h"
#include "transfer/stream_downloader.h"

namespace korvid::cli {
namespace {

struct FetchArgs {
  std::string url;
  std::string cookies;
  bool haveCookies = false;
  bool head = false;
  std::string output;
};

bool ParseFetchArgs(const Args& args, FetchArgs& fetch) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--cookies" && hasValue) {
      fetch.cookies = args[++i];
      fetch.haveCookies = true;
    } else if ((arg == "--output" || arg == "-o") && hasValue) {
      fetch.output = args[++i];
    } else if (arg == "--head") {
      fetch.head = true;
    } else if (fetch.url.empty() && !arg.starts_with("--")) {
      fetch.url = arg;
    } else {
      return false;
    }
  }
  return !fetch.url.empty();
}

bool WriteBody(const std::string& body, const std::string& output) {
  if (output.empty()) {
    std::cout.write(body.data(), static_cast<std::streamsize>(body.size()));
    return static_cast<bool>(std::cout.flush());
  }
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  file.write(body.data(), static_cast<std::streamsize>(body.size()));
  return static_cast<bool>(file.flush());
}

std::string ProgressLine(const ProgressReport& report) {
  return "size " + MegabytesText(report.total) + "  received " + MegabytesText(report.received) +
         "  speed " + SpeedText(report.speed) + "  " + SecondsText(report.elapsedMs);
}

std::string FailureText(const TransferOutcome& outcome, const std::string& output) {
  switch (outcome.error) {
    case TransferError::kHttpStatus:
      return "the server answered " + std::to_string(outcome.httpStatus);
    case TransferError::kFileOpen:
      return "could not open " + output;
    case TransferError::kWrite:
      return "could not write " + output;
    case TransferError::kNoData:
      return "the answer had no body";
    case TransferError::kNone:
      return "the body ended short of its length";
    case TransferError::kCancelled:
      return "interrupted; " + std::to_string(outcome.received) + " bytes kept in " + output;
    default:
      return "download failed after " + std::to_string(outcome.received) +
             " bytes: " + outcome.detail;
  }
}

std::atomic<StreamDownloader*> g_interruptible{nullptr};

// Ctrl-C ends the transfer cleanly: what arrived is flushed to the file.
void Interrupt(int) {
  if (StreamDownloader* downloader = g_interruptible.load()) downloader->Cancel();
}

class InterruptGuard {
 public:
  explicit InterruptGuard(StreamDownloader& downloader) {
    g_interruptible = &downloader;
    m_previous = std::signal(SIGINT, Interrupt);
  }
  ~InterruptGuard() {
    std::signal(SIGINT, m_previous);
    g_interruptible = nullptr;
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*m_previous)(int) = SIG_DFL;
};

// Media-sized bodies go straight to the file through the download engine,
// with one progress line redrawn in place on a terminal.
int StreamToFile(const FetchArgs& fetch) {
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  StreamDownloader downloader;
  const InterruptGuard interrupt(downloader);
  CompletionEvent done;
  StreamDownloader::Request request;
  request.url = fetch.url;
  request.targetPath = fetch.output;
  request.handler = [terminal](const ProgressReport& report) {
    if (report.kind == kReportReadFailed) return;
    if (terminal) {
      std::cerr << "\r" << ProgressLine(report) << "\x1b[K" << std::flush;
    } else {
      std::cerr << ProgressLine(report) << "\n";
    }
  };
  request.done = &done;
  (void)downloader.StartTransfer(std::move(request));  // the event comes either way
  done.Wait();
  const TransferOutcome outcome = downloader.Outcome();
  if (terminal && outcome.started) std::cerr << "\n";
  if (!outcome.Complete()) return Fail(FailureText(outcome, fetch.output));
  std::cerr << "saved " << outcome.received << " bytes to " << fetch.output << "\n";
  return 0;
}

int Fetch(const Args& args) {
  FetchArgs fetch;
  if (!ParseFetchArgs(args, fetch)) return UsageError("fetch", "fetch needs one URL");
  if (!fetch.output.empty() && !fetch.head && !fetch.haveCookies) return StreamToFile(fetch);
  Core core;
  HttpRequestOptions options;
  options.method = fetch.head ? static_cast<int>(HttpMethod::kHead) : 0;
  if (fetch.haveCookies) options.cookies = &fetch.cookies;
  const HttpResponse response = HttpRequest(fetch.url, options);
  if (!response.Completed()) {
    return Fail("request failed: " + DirectErrorMessage(response.failure));
  }
  std::cerr << "status " << response.status << "\n" << response.headers << "\n";
  if (!response.newCookies.empty()) std::cerr << "cookies: " << response.newCookies << "\n";
  if (!WriteBody(response.body, fetch.output)) return Fail("could not write the body");
  return response.status >= 200 && response.status < 400 ? 0 : 1;
}

}  // namespace

KORVID_CLI_COMMAND(
    "fetch",
    "fetch URL [--cookies TEXT] [--head] [-o|--output FILE]\n"
    "                      one request with Korvid's HTTP client; status and headers\n"
    "                      go to stderr, the body to stdout or FILE. With FILE (and no\n"
    "                      cookies) the body streams to the file with a progress line;\n"
    "                      exit 0 only when the whole body arrived",
    Fetch, 20);

}  // namespace korvid::cli

// fetch: one request through Korvid's HTTP client.

#include <fstream>
#include <iostream>

#include "cli/cli_command.h"
#include "net/http_client.h"

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
    } else if (arg == "--output" && hasValue) {
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

int Fetch(const Args& args) {
  FetchArgs fetch;
  if (!ParseFetchArgs(args, fetch)) return UsageError("fetch", "fetch needs one URL");
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
    "fetch URL [--cookies TEXT] [--head] [--output FILE]\n"
    "                      one request with Korvid's HTTP client; status and headers\n"
    "                      go to stderr, the body to stdout or FILE",
    Fetch, 20);

}  // namespace korvid::cli

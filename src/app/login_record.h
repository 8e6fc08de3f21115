#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvid {

// What the settings file keeps of a log-in beside its cookie (section "登录"):
// the refresh token the log-in came with, and when the daily refresh check
// last ran with its answer. The file is mode 0600, as for the cookie.
inline constexpr std::string_view kLoginSection = "登录";

struct LoginRecord {
  std::string refreshToken;
  std::int64_t lastCheckUnixMs = 0;  // 0: never checked
  std::string lastCheckAnswer;
};

// The record of the settings file; empty fields when it has none.
[[nodiscard]] LoginRecord LoadLoginRecord(const std::string& settingsPath);

// Writes the record, and with cookies also the cookie box's key, in one atomic
// replace of the file under the settings lock, so cookie and token never
// disagree on disk. Every other key stays as it is on disk. False when the
// file could not be read or written (it is then left as it was).
[[nodiscard]] bool SaveLoginRecord(const std::string& settingsPath, const LoginRecord& record,
                                   const std::string* cookies = nullptr);

}  // namespace korvid

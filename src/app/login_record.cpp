#include "app/login_record.h"

#include <cstdlib>

#include "app/settings_file.h"
#include "controls/control_names.h"

namespace korvid {
namespace {

constexpr std::string_view kTokenKey = "refresh_token";
constexpr std::string_view kCheckTimeKey = "续期检查时间";
constexpr std::string_view kCheckAnswerKey = "续期检查结果";

}  // namespace

LoginRecord LoadLoginRecord(const std::string& settingsPath) {
  IniFile ini;
  LoginRecord record;
  if (!ini.Load(settingsPath)) return record;
  record.refreshToken = ini.Get(kLoginSection, kTokenKey);
  record.lastCheckUnixMs = std::strtoll(ini.Get(kLoginSection, kCheckTimeKey).c_str(), nullptr, 10);
  record.lastCheckAnswer = ini.Get(kLoginSection, kCheckAnswerKey);
  return record;
}

bool SaveLoginRecord(const std::string& settingsPath, const LoginRecord& record,
                     const std::string* cookies) {
  SettingsLock lock(settingsPath);
  IniFile ini;
  if (!lock.Held() || ini.Read(settingsPath) == IniFile::LoadResult::kUnreadable) return false;
  ini.Set(kLoginSection, kTokenKey, record.refreshToken);
  ini.Set(kLoginSection, kCheckTimeKey, std::to_string(record.lastCheckUnixMs));
  ini.Set(kLoginSection, kCheckAnswerKey, record.lastCheckAnswer);
  if (cookies != nullptr) ini.Set(kSectionEditBox, kCookiesBox, EncodeEditText(*cookies));
  return ini.Save(settingsPath);
}

}  // namespace korvid

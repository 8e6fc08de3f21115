#include "library/nfo_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/tasks/task_record.h"
#include "net/http_client.h"
#include "net/json_document.h"
#include "net/regex_matcher.h"
#include "net/site_hosts.h"

namespace korvid {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kChinaOffsetSeconds = 8 * 3600;
// Years 1 to 9999, so the year is always the first four characters of the date.
constexpr std::int64_t kEarliestSeconds = -62135596800;
constexpr std::int64_t kLatestSeconds = 253402300799 - kChinaOffsetSeconds;

constexpr std::string_view kTagPattern = "tag_name#引号:#引号(.+?)#引号,#引号cover";

std::string ReplaceAll(const std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t hit = text.find(from); hit != std::string::npos; hit = text.find(from, start)) {
    out.append(text, start, hit - start);
    out += to;
    start = hit + from.size();
  }
  out.append(text, start);
  return out;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (!pieces.empty() && pieces.back().empty()) pieces.pop_back();
  return pieces;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// Proleptic Gregorian date of a day count since 1970-01-01.
CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = FloorDiv(days, 146097);
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

std::int64_t ClampedSeconds(double value) {
  if (!std::isfinite(value)) return 0;
  const double clamped =
      std::clamp(value, static_cast<double>(kEarliestSeconds), static_cast<double>(kLatestSeconds));
  return static_cast<std::int64_t>(std::floor(clamped));
}

// A tag as it stands inside a JSON string of the page: its escapes resolved
// (pages write "/" as \u002F), or the raw text when it is not a valid string.
std::string ResolveJsonEscapes(const std::string& raw) {
  const auto parsed = nlohmann::json::parse("\"" + raw + "\"", nullptr, false);
  return parsed.is_string() ? parsed.get<std::string>() : raw;
}

// The description as plot text: its line breaks become CR LF; "?" and "&"
// are removed, as media servers used to choke on them.
std::string PlotText(std::string description) {
  description = ReplaceAll(description, "\r", "");
  description = ReplaceAll(description, "\n", kCrLf);
  std::erase(description, '?');
  std::erase(description, '&');
  return description;
}

struct Person {
  std::string name;
  std::string role;   // "UP主" or the staff title
  std::string thumb;  // the avatar address
};

std::string ActorElement(const Person& person) {
  std::string element = "  <actor>\r\n    <name>";
  element += XmlElementText(person.name);
  element += "</name>\r\n";
  if (!person.role.empty()) element += "    <role>" + XmlElementText(person.role) + "</role>\r\n";
  element += "    <type>Actor</type>\r\n";
  if (!person.thumb.empty()) {
    element += "    <thumb>" + XmlElementText(person.thumb) + "</thumb>\r\n";
  }
  element += "  </actor>\r\n";
  return element;
}

std::string SimpleElement(std::string_view tag, std::string_view text) {
  std::string element = "  <";
  element += tag;
  element += '>';
  element += XmlElementText(text);
  element += "</";
  element += tag;
  element += '>';
  element += kCrLf;
  return element;
}

struct NfoValues {
  std::string bvid, aid, cid, part, day, year, resolution, runtime, category, plot, title, people;
  std::vector<Person> persons;  // uploader first, then staff members 1, 2, ...
};

constexpr std::string_view kUploaderRole = "UP主";
constexpr double kSecondsPerMinute = 60;

// Whole minutes, rounded up, as media servers read <runtime>; "" when unknown.
std::string RuntimeMinutes(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return {};
  return std::to_string(static_cast<long long>(std::ceil(seconds / kSecondsPerMinute)));
}

NfoValues ReadValues(const JsonDocument& record) {
  NfoValues values;
  values.bvid = record.GetValue("data.bvid");
  values.aid = record.GetValue("data.aid");
  values.cid = record.GetValue(record::kCid);
  values.part = record.GetValue(record::kPart);
  const std::string date = ChinaDateTimeText(ClampedSeconds(record.GetNumber("data.pubdate")));
  values.year = date.substr(0, 4);
  values.day = date.substr(0, 10);
  values.resolution =
      record.GetValue("data.dimension.width") + "x" + record.GetValue("data.dimension.height");
  values.runtime = RuntimeMinutes(record.GetNumber("data.pages[0].duration"));
  values.category = record.GetValue("data.tname");
  values.plot = PlotText(record.GetValue("data.desc"));
  values.title = record.GetValue("data.title");
  values.people = record.GetValue("data.owner.name");
  values.persons.push_back(
      {values.people, std::string(kUploaderRole), record.GetValue("data.owner.face")});
  // Member 0 of the staff is the uploader, already named above.
  const int staff = record.GetCount("data.staff");
  for (int i = 1; i < staff; ++i) {
    const std::string member = "data.staff[" + std::to_string(i) + "].";
    values.people += "/" + record.GetValue(member + "name");
    values.persons.push_back({record.GetValue(member + "name"), record.GetValue(member + "title"),
                              record.GetValue(member + "face")});
  }
  return values;
}

// Newest first: the last person (the uploader comes first) leads. A name
// holding "/" stands for several people without a role or picture.
std::string ActorElements(const std::vector<Person>& persons) {
  std::string elements;
  for (const Person& person : persons) {
    const std::vector<std::string> names = Split(person.name, '/');
    for (const std::string& name : names) {
      if (name.empty()) continue;
      elements.insert(0, ActorElement(names.size() == 1 ? person : Person{name, {}, {}}));
    }
  }
  return elements.empty() ? ActorElement(Person{}) : elements;
}

std::vector<std::string> Labels(const NfoValues& values, const std::string& pageTags) {
  std::string text = values.day + "|" + values.resolution + "|aid:" + values.aid +
                     "|cid:" + values.cid + "|" + VideoPageUrl(values.bvid) + "|" +
                     ReplaceAll(values.people, "/", "|") + "|" + values.category + "|" +
                     values.part + "|" + pageTags;
  text = ReplaceAll(text, "|||", "|");
  text = ReplaceAll(text, "||", "|");
  return Split(text, '|');
}

}  // namespace

std::string PageTagsFromHtml(std::string_view html) {
  RegexMatcher matcher;
  if (!matcher.Execute(kTagPattern, html, false, true, true, true)) return {};
  std::string tags;
  for (int n = 1; n <= matcher.Count(); ++n) {
    if (n > 1) tags += '|';
    tags += ResolveJsonEscapes(matcher.SubMatchText(n, 1));
  }
  return tags;
}

std::string FetchPageTags(std::string_view bvid) {
  if (bvid.empty()) return {};
  return PageTagsFromHtml(PlainGet(VideoPageUrl(bvid)));
}

std::string ChinaDateTimeText(std::int64_t unixSeconds) {
  const std::int64_t local =
      std::clamp(unixSeconds, kEarliestSeconds, kLatestSeconds) + kChinaOffsetSeconds;
  const std::int64_t days = FloorDiv(local, kSecondsPerDay);
  const std::int64_t secondOfDay = local - days * kSecondsPerDay;
  const CivilDate date = CivilFromDays(days);
  char text[96];
  std::snprintf(
      text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(date.year),
      date.month, date.day, static_cast<long long>(secondOfDay / 3600),
      static_cast<long long>(secondOfDay / 60 % 60), static_cast<long long>(secondOfDay % 60));
  return text;
}

std::string XmlElementText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      continue;
    } else if (byte == 0xEF &&
               (text.substr(i, 3) == "\xEF\xBF\xBE" || text.substr(i, 3) == "\xEF\xBF\xBF")) {
      i += 2;  // U+FFFE, U+FFFF
    } else {
      out += c;
    }
  }
  return out;
}

std::string GenreAndTagElements(const std::vector<std::string>& labels) {
  std::string genres;
  std::string tags;
  for (const std::string& label : labels) {
    if (label.empty()) continue;
    genres.insert(0, SimpleElement("genre", label));
    tags.insert(0, SimpleElement("tag", label));
  }
  if (genres.empty()) {
    genres = SimpleElement("genre", "无类别");
    tags = SimpleElement("tag", "无标签");
  }
  return genres + tags;
}

std::string NfoIdOf(const JsonDocument& record) {
  const std::string season = record.GetValue(std::string(record::kLicensedSeason) + ".season_id");
  if (record.TypeOf(record::kLicensed) == kJsonObject) return "ss" + season;
  return record.GetValue("data.bvid");
}

std::string BuildSeasonNfo(const JsonDocument& record) {
  const std::string season = std::string(record::kLicensedSeason) + ".";
  const auto value = [&](std::string_view key) {
    return record.GetValue(season + std::string(key));
  };
  std::string nfo = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>)";
  nfo += "\r\n<tvshow>\r\n";
  nfo += SimpleElement("title", value("title"));
  if (!value("origin_name").empty()) nfo += SimpleElement("originaltitle", value("origin_name"));
  nfo += SimpleElement("plot", PlotText(value("evaluate")));
  const std::string premiered = value("publish.pub_time").substr(0, 10);
  if (!premiered.empty()) {
    nfo += SimpleElement("premiered", premiered);
    nfo += SimpleElement("year", premiered.substr(0, 4));
  }
  if (!value("rating.score").empty()) {
    nfo += "  <rating>" + XmlElementText(value("rating.score")) + "</rating>\r\n";
  }
  const int areas = record.GetCount(season + "areas");
  for (int i = 0; i < areas; ++i) {
    nfo += SimpleElement("genre", value("areas[" + std::to_string(i) + "].name"));
  }
  const int styles = record.GetCount(season + "styles");
  for (int i = 0; i < styles; ++i) {
    nfo += SimpleElement("genre", value("styles[" + std::to_string(i) + "]"));
  }
  nfo += SimpleElement("id", NfoIdOf(record));
  nfo += "  <uniqueid type=\"bilibili_season\" default=\"true\">" +
         XmlElementText(value("season_id")) + "</uniqueid>\r\n";
  return nfo + "</tvshow>";
}

std::string BuildNfo(std::string_view recordText, const PageTagSource& pageTags) {
  JsonDocument record;
  (void)record.Parse(recordText);  // an unreadable record reads as all values missing
  if (record.TypeOf(record::kLicensed) == kJsonObject) return BuildSeasonNfo(record);
  const NfoValues values = ReadValues(record);
  const std::string tags = pageTags ? pageTags(values.bvid) : std::string();

  // Filled piece by piece, so a value that holds a placeholder word (时间,
  // 演员, ...) is written as it is.
  std::string nfo = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>)";
  nfo += "\r\n<movie>\r\n  <plot>" + XmlElementText(values.plot) + "</plot>\r\n";
  nfo += "  <title>" + XmlElementText(values.title) + "</title>\r\n";
  nfo += "  <year>" + values.year + "</year>\r\n";
  nfo += "  <mpaa>PG</mpaa>\r\n  <customrating>PG</customrating>\r\n";
  nfo += "  <countrycode>CN</countrycode>\r\n";
  nfo += "  <premiered>" + values.day + "</premiered>\r\n";
  nfo += "  <release>" + values.day + "</release>\r\n";
  nfo += "  <runtime>" + XmlElementText(values.runtime) + "</runtime>\r\n";
  nfo += "  <country>中国</country>\r\n";
  nfo += "  <id>" + XmlElementText(values.bvid) + "</id>\r\n";
  nfo += "  <num>" + XmlElementText(values.bvid) + "</num>\r\n";
  nfo += "  <uniqueid type=\"bilibili\" default=\"true\">" + XmlElementText(values.bvid) +
         "</uniqueid>\r\n";
  nfo += GenreAndTagElements(Labels(values, tags)) + ActorElements(values.persons) + "</movie>";
  return nfo;
}

std::string BuildNfo(std::string_view recordText) {
  return BuildNfo(recordText, FetchPageTags);
}

SideFileResult WriteNfoIfMissing(const std::filesystem::path& videoFolder,
                                 std::string_view recordText, const PageTagSource& pageTags) {
  const std::filesystem::path path = videoFolder / kNfoFileName;
  std::error_code error;
  if (std::filesystem::exists(path, error)) return SideFileResult::kExisted;
  return WriteFileIfMissing(path, BuildNfo(recordText, pageTags));
}

}  // namespace korvid

#include "support/fakesite/catalogue.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace korvid::fakesite {

namespace {

constexpr std::int64_t kListAidOffset = 40000000000;
constexpr const char* kListDanmaku = "danmaku/small9_double_escaped_emoji.xml";

PageKind PageKindOf(const std::string& text) {
  if (text == "no-state") {
    return PageKind::NoState;
  }
  if (text == "other-bvid") {
    return PageKind::OtherBvid;
  }
  if (text == "error-state") {
    return PageKind::ErrorState;
  }
  if (text == "error-state-404") {
    return PageKind::ErrorState404;
  }
  return PageKind::State;
}

ViewKind ViewKindOf(const std::string& text) {
  if (text == "blocked") {
    return ViewKind::Blocked;
  }
  if (text == "not-found") {
    return ViewKind::NotFound;
  }
  return ViewKind::Ok;
}

Json PageObject(std::int64_t cid, int number, const std::string& part, std::int64_t duration,
                const Json& dimension, std::int64_t ctime) {
  Json page;
  page["cid"] = cid;
  page["page"] = number;
  page["from"] = "vupload";
  page["part"] = part;
  page["duration"] = duration;
  page["vid"] = "";
  page["weblink"] = "";
  page["dimension"] = dimension;
  page["ctime"] = ctime;
  return page;
}

Json OwnerObject(std::int64_t mid, const std::string& name) {
  Json owner;
  owner["mid"] = mid;
  owner["name"] = name;
  owner["face"] = "https://i0.hdslb.com/bfs/face/fakesite-" + std::to_string(mid) + ".jpg";
  return owner;
}

// Staff entries as the view API lists them: mid, title, name, face.
Json StaffObjects(const Json& staff) {
  Json members = Json::array();
  for (const auto& member : staff) {
    Json object = OwnerObject(member["mid"].get<std::int64_t>(), member["name"].get<std::string>());
    object["title"] = member.value("title", "UP主");
    members.push_back(std::move(object));
  }
  return members;
}

// The page state the site embeds for a video, reduced to what a page of
// ours needs around videoData.
Json StateFor(const Json& data, const Json& tags) {
  Json state;
  state["aid"] = data.value("aid", Json(0));
  state["bvid"] = data.value("bvid", "");
  state["p"] = 1;
  state["episode"] = "";
  state["videoData"] = data;
  state["upData"] = data.value("owner", Json::object());
  state["staffData"] = data.value("staff", Json::array());
  state["tags"] = tags;
  state["isClient"] = false;
  state["error"] = Json::object();
  return state;
}

Json ErrorState() {
  Json state;
  state["aid"] = nullptr;
  state["bvid"] = "";
  state["p"] = 1;
  state["videoData"] = Json::object();
  state["tags"] = Json::array();
  Json error;
  error["code"] = -404;
  error["message"] = "啥都木有";
  state["error"] = error;
  return state;
}

}  // namespace

std::string VideoList::Bvid(int k) const {
  std::array<char, 16> digits{};
  std::snprintf(digits.data(), digits.size(), "%07d", k);
  return bvidPrefix + digits.data();
}

int VideoList::TypeId(int k) const {
  constexpr int kDailyTypeId = 21;
  if (typeIds.empty()) return kDailyTypeId;
  return typeIds[static_cast<std::size_t>(k - 1) % typeIds.size()];
}

Json MakeTags(const std::vector<std::string>& names, std::int64_t ctime) {
  Json tags = Json::array();
  std::int64_t id = 1000;
  for (const auto& name : names) {
    Json tag;
    tag["tag_id"] = id++;
    tag["tag_name"] = name;
    tag["cover"] = "";
    tag["head_cover"] = "";
    tag["content"] = "";
    tag["short_content"] = "";
    tag["type"] = 3;
    tag["state"] = 0;
    tag["ctime"] = ctime;
    tag["count"] = Json{{"view", 0}, {"use", 1}, {"atten", 0}};
    tag["is_atten"] = 0;
    tag["likes"] = 0;
    tag["hates"] = 0;
    tag["attribute"] = 0;
    tag["liked"] = 0;
    tag["hated"] = 0;
    tag["extra_attr"] = 0;
    tags.push_back(tag);
  }
  return tags;
}

Json Catalogue::LoadJson(const std::string& relative, std::string& error) const {
  std::ifstream in(m_dataDir / relative, std::ios::binary);
  if (!in) {
    error = "cannot read " + (m_dataDir / relative).string();
    return nullptr;
  }
  Json value = Json::parse(in, nullptr, false);
  if (value.is_discarded()) {
    error = "not JSON: " + relative;
    return nullptr;
  }
  return value;
}

bool Catalogue::Load(const std::filesystem::path& dataDir, std::string& error) {
  m_dataDir = dataDir;
  m_settings = LoadJson("fakesite/videos.json", error);
  if (m_settings.is_null()) {
    return false;
  }
  const Json& templ = m_settings["template"];
  m_template = LoadJson(templ["source"].get<std::string>(), error);
  if (m_template.is_null()) {
    return false;
  }
  m_template = m_template.at(Json::json_pointer(templ["videoPointer"].get<std::string>()));
  for (const auto& entry : m_settings["videos"]) {
    if (!AddVideo(entry, error)) {
      return false;
    }
  }
  for (const auto& space : m_settings["spaces"]) {
    m_spaces.push_back({space["mid"].get<std::int64_t>(), space["name"].get<std::string>(),
                        space["count"].get<int>(), space["bvidPrefix"].get<std::string>(),
                        space["firstCid"].get<std::int64_t>(),
                        space.value("typeIds", std::vector<int>{})});
  }
  for (const auto& folder : m_settings["favourites"]) {
    m_favourites.push_back({folder["mediaId"].get<std::int64_t>(),
                            folder["title"].get<std::string>(), folder["count"].get<int>(),
                            folder["bvidPrefix"].get<std::string>(),
                            folder["firstCid"].get<std::int64_t>(), std::vector<int>{}});
  }
  const Json& comments = m_settings["comments"];
  for (const auto& [cid, file] : comments["byCid"].items()) {
    m_comments[std::stoll(cid)] = file.get<std::string>();
  }
  m_emptyComments = comments["emptyDocument"].get<std::string>();
  m_listComments = kListDanmaku;
  for (const auto& entry : m_settings["videos"]) {
    const auto& pages = m_videos[entry["bvid"].get<std::string>()].data["pages"];
    const auto& files = entry["danmaku"];
    for (std::size_t i = 0; i < pages.size() && !files.empty(); ++i) {
      m_comments[pages[i]["cid"].get<std::int64_t>()] = files[std::min(i, files.size() - 1)];
    }
  }
  const Json& account = m_settings["account"];
  m_account = LoadJson(account["source"].get<std::string>(), error);
  m_spaceTemplate = LoadJson("api/space_wbi_arc_search_mid946974.json", error);
  m_favouritesTemplate = LoadJson("api/fav_resource_list_1052622027.json", error);
  m_dashTemplate = LoadJson("api/playurl_dash_BV1rp4y1e745_hevc_first.json", error);
  m_durlTemplate = LoadJson("api/playurl_durl_flv_BV1y7411Q7Eq.json", error);
  return !m_account.is_null() && !m_spaceTemplate.is_null() && !m_favouritesTemplate.is_null() &&
         !m_dashTemplate.is_null() && !m_durlTemplate.is_null();
}

bool Catalogue::AddVideo(const Json& entry, std::string& error) {
  Video video;
  video.bvid = entry["bvid"].get<std::string>();
  video.page = PageKindOf(entry.value("page", "state"));
  video.view = ViewKindOf(entry.value("view", "ok"));
  std::vector<std::string> tagNames = entry.value("tags", std::vector<std::string>{});
  Json tags;
  if (entry.contains("source")) {
    const Json source = LoadJson(entry["source"].get<std::string>(), error);
    if (source.is_null()) {
      return false;
    }
    video.data = source.at(Json::json_pointer(entry["videoPointer"].get<std::string>()));
    if (entry.value("stateIsSource", false)) {
      video.state = source;
    }
    tags = entry.contains("tagsPointer")
               ? source.at(Json::json_pointer(entry["tagsPointer"].get<std::string>()))
               : MakeTags(tagNames, video.data.value("pubdate", std::int64_t{0}));
  } else {
    video.data = MadeUpData(entry);
    tags = MakeTags(tagNames, video.data["pubdate"].get<std::int64_t>());
  }
  if (entry.contains("otherBvid")) {
    m_otherBvid[video.bvid] = entry["otherBvid"].get<std::string>();
  }
  FinishVideo(video, tags);
  if (entry.contains("dash") && !AddDashRecording(entry["dash"].get<std::string>(), video, error)) {
    return false;
  }
  m_videos[video.bvid] = std::move(video);
  return true;
}

bool Catalogue::AddDashRecording(const std::string& file, const Video& video, std::string& error) {
  if (!m_dashRecordings.contains(file)) {
    Json answer = LoadJson(file, error);
    if (answer.is_null()) {
      return false;
    }
    m_dashRecordings[file] = std::move(answer);
  }
  for (const auto& page : video.data.value("pages", Json::array())) {
    m_dashFileOfCid[page["cid"].get<std::int64_t>()] = file;
  }
  return true;
}

const Json& Catalogue::DashAnswerFor(std::int64_t cid) const {
  const auto file = m_dashFileOfCid.find(cid);
  return file == m_dashFileOfCid.end() ? m_dashTemplate : m_dashRecordings.at(file->second);
}

void Catalogue::FinishVideo(Video& video, const Json& tags) const {
  if (!video.state.is_null()) {
    return;
  }
  switch (video.page) {
    case PageKind::State:
    case PageKind::OtherBvid:
      video.state = StateFor(video.data, tags);
      break;
    case PageKind::ErrorState:
    case PageKind::ErrorState404:
      video.state = ErrorState();
      break;
    case PageKind::NoState:
      break;
  }
}

Json Catalogue::MadeUpData(const Json& entry) const {
  Json data = m_template;
  for (const char* key : {"staff", "honor_reply", "ugc_season", "argue_info"}) {
    data.erase(key);
  }
  const std::string bvid = entry["bvid"].get<std::string>();
  const std::int64_t aid = entry["aid"].get<std::int64_t>();
  const std::int64_t pubdate = entry["pubdate"].get<std::int64_t>();
  const Json& dimension = entry["dimension"];
  data["bvid"] = bvid;
  data["aid"] = aid;
  data["tname"] = entry["tname"];
  data["pic"] = "http://i0.hdslb.com/bfs/archive/fakesite-" + bvid + ".jpg";
  data["title"] = entry["title"];
  data["pubdate"] = pubdate;
  data["ctime"] = pubdate;
  data["desc"] = entry["desc"];
  data["desc_v2"] = Json::array({Json{{"raw_text", entry["desc"]}, {"type", 1}, {"biz_id", 0}}});
  data["rights"]["is_cooperation"] = 0;
  data["owner"] = OwnerObject(entry["owner"]["mid"].get<std::int64_t>(),
                              entry["owner"]["name"].get<std::string>());
  if (entry.contains("staff")) {
    data["staff"] = StaffObjects(entry["staff"]);
  }
  if (entry.contains("ugc_season")) {
    data["ugc_season"] = entry["ugc_season"];
  }
  data["stat"]["aid"] = aid;
  data["dynamic"] = "";
  data["dimension"] = dimension;
  Json pages = Json::array();
  std::int64_t total = 0;
  int number = 1;
  for (const auto& page : entry["pages"]) {
    const std::int64_t duration = page["duration"].get<std::int64_t>();
    pages.push_back(PageObject(page["cid"].get<std::int64_t>(), number++,
                               page["part"].get<std::string>(), duration, dimension, pubdate));
    if (page.contains("first_frame")) pages.back()["first_frame"] = page["first_frame"];
    total += duration;
  }
  data["videos"] = pages.size();
  data["duration"] = total;
  data["cid"] = pages.empty() ? Json(0) : pages[0]["cid"];
  data["pages"] = pages;
  return data;
}

std::optional<Video> Catalogue::FindVideo(const std::string& id) const {
  // The site takes the "BV" prefix in any case.
  std::string bvid = id;
  if (bvid.size() > 2 && (bvid[0] == 'b' || bvid[0] == 'B') && (bvid[1] == 'v' || bvid[1] == 'V')) {
    bvid.replace(0, 2, "BV");
  }
  if (const auto it = m_videos.find(bvid); it != m_videos.end()) {
    Video video = it->second;
    if (const auto other = m_otherBvid.find(bvid); other != m_otherBvid.end()) {
      video.state = m_videos.at(other->second).state;
    }
    return video;
  }
  for (const auto* lists : {&m_spaces, &m_favourites}) {
    for (const auto& list : *lists) {
      const auto& prefix = list.bvidPrefix;
      if (bvid.size() == prefix.size() + 7 && bvid.compare(0, prefix.size(), prefix) == 0) {
        const int k = std::atoi(bvid.c_str() + prefix.size());
        if (k >= 1 && k <= list.count && list.Bvid(k) == bvid) {
          return ListVideo(list, k);
        }
      }
    }
  }
  return std::nullopt;
}

const VideoList* Catalogue::ListOfCid(std::int64_t cid, int& k) const {
  for (const auto* lists : {&m_spaces, &m_favourites}) {
    for (const auto& list : *lists) {
      if (cid >= list.firstCid && cid < list.firstCid + list.count) {
        k = static_cast<int>(cid - list.firstCid) + 1;
        return &list;
      }
    }
  }
  return nullptr;
}

std::optional<Video> Catalogue::FindVideoByAid(std::int64_t aid) const {
  for (const auto& [bvid, video] : m_videos) {
    if (video.data.value("aid", std::int64_t{0}) == aid) {
      return FindVideo(bvid);
    }
  }
  int k = 0;
  if (const VideoList* list = ListOfCid(aid + kListAidOffset, k)) {
    return ListVideo(*list, k);
  }
  return std::nullopt;
}

bool Catalogue::KnowsCid(std::int64_t cid) const {
  for (const auto& [bvid, video] : m_videos) {
    for (const auto& page : video.data.value("pages", Json::array())) {
      if (page.value("cid", std::int64_t{0}) == cid) {
        return true;
      }
    }
  }
  int k = 0;
  return ListOfCid(cid, k) != nullptr;
}

const VideoList* Catalogue::FindSpace(std::int64_t mid) const {
  for (const auto& space : m_spaces) {
    if (space.id == mid) {
      return &space;
    }
  }
  return nullptr;
}

const VideoList* Catalogue::FindFavourites(std::int64_t mediaId) const {
  for (const auto& folder : m_favourites) {
    if (folder.id == mediaId) {
      return &folder;
    }
  }
  return nullptr;
}

Video Catalogue::ListVideo(const VideoList& list, int k) const {
  const std::int64_t cid = list.Cid(k);
  const std::int64_t pubdate = 1700000000 - static_cast<std::int64_t>(k) * 86400;
  Json entry;
  entry["bvid"] = list.Bvid(k);
  entry["aid"] = cid - kListAidOffset;
  entry["title"] = list.name + " 第" + std::to_string(k) + "个";
  entry["tname"] = "日常";
  entry["owner"] = Json{{"mid", list.id}, {"name", list.name}};
  entry["pubdate"] = pubdate;
  entry["desc"] = "";
  entry["dimension"] = Json{{"width", 160}, {"height", 90}, {"rotate", 0}};
  entry["pages"] = Json::array({Json{{"cid", cid}, {"part", "正片"}, {"duration", 2}}});
  Video video;
  video.bvid = entry["bvid"].get<std::string>();
  video.data = MadeUpData(entry);
  FinishVideo(video, MakeTags({"日常"}, pubdate));
  return video;
}

std::filesystem::path Catalogue::CommentFile(std::int64_t cid) const {
  if (const auto it = m_comments.find(cid); it != m_comments.end()) {
    return m_dataDir / it->second;
  }
  int k = 0;
  if (ListOfCid(cid, k) != nullptr) {
    return m_dataDir / m_listComments;
  }
  return m_dataDir / m_emptyComments;
}

}  // namespace korvid::fakesite

// The site's current generation of calls: nav with the signing keys, the
// visitor-cookie call and the signed space list, plus the switch that retires
// one generation. The signature is checked here with code of its own, so a
// fault in the client's signing cannot hide behind the same fault here.
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "support/fakesite/site_routes.h"

namespace korvid::fakesite {

namespace {

constexpr const char* kNavFile = "api/nav_not_logged_in_wbi_img.json";
constexpr const char* kFingerFile = "api/finger_spi.json";
constexpr const char* kRiskControlBody = R"({"code":-352,"message":"-352","ttl":1})";
constexpr const char* kRetiredListBody =
    R"({"code":-799,"message":"请求过于频繁，请稍后再试","ttl":1})";
constexpr const char* kSubtitlePath = "/bfs/subtitle/";
constexpr const char* kUnknownVideoBody = R"({"code":-400,"message":"请求错误","ttl":1})";
constexpr const char* kWbiImageBase = "https://i0.hdslb.com/bfs/wbi/";

// Position in img + sub of each mixin-key character, as the site documents it.
constexpr std::array<unsigned char, 32> kMixinPositions = {
    46, 47, 18, 2,  53, 8, 23, 32, 15, 50, 10, 31, 58, 3,  45, 35,
    27, 43, 5,  49, 33, 9, 42, 19, 29, 28, 14, 39, 12, 38, 41, 13};

Json ReadJson(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return Json::parse(text.str(), nullptr, false);
}

std::string StemOf(const std::string& url) {
  const std::string name = url.substr(url.rfind('/') + 1);
  return name.substr(0, name.find('.'));
}

std::string Md5LowerHex(const std::string& text) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), text.data(), text.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) {
    return {};
  }
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    std::array<char, 3> pair{};
    std::snprintf(pair.data(), pair.size(), "%02x", digest[i]);
    hex += pair.data();
  }
  return hex;
}

// As JavaScript's encodeURIComponent after !'()* are gone: what the site's
// own page signs.
std::string EncodeComponent(const std::string& text) {
  static const std::string kKept =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~";
  std::ostringstream out;
  for (unsigned char c : text) {
    if (kKept.find(static_cast<char>(c)) != std::string::npos) {
      out << c;
    } else {
      std::array<char, 4> escape{};
      std::snprintf(escape.data(), escape.size(), "%%%02X", c);
      out << escape.data();
    }
  }
  return out.str();
}

std::string Unfiltered(std::string value) {
  std::erase_if(value, [](char c) { return std::string("!'()*").find(c) != std::string::npos; });
  return value;
}

}  // namespace

void SiteRoutes::SetRetired(Retired which) {
  std::lock_guard lock(m_mutex);
  m_retired = which;
}

void SiteRoutes::SetWbiKeys(std::string imgKey, std::string subKey) {
  std::lock_guard lock(m_mutex);
  m_wbiImgKey = std::move(imgKey);
  m_wbiSubKey = std::move(subKey);
}

std::optional<Reply> SiteRoutes::CurrentApiRoute(const Incoming& in) {
  const std::string& path = in.request.path;
  if (in.request.method != "GET" && in.request.method != "HEAD") {
    return std::nullopt;
  }
  const bool current = path == "/x/web-interface/nav" || path == "/x/frontend/finger/spi" ||
                       path == "/x/space/wbi/arc/search" || path == "/x/player/wbi/v2";
  Retired retired = Retired::kNothing;
  {
    std::lock_guard lock(m_mutex);
    retired = m_retired;
  }
  if (current && retired == Retired::kNewerCalls) {
    return TextReply(404, "not found");
  }
  if (path == "/x/space/arc/search" && retired == Retired::kOlderCalls) {
    return JsonReply(kRetiredListBody);
  }
  if (path == "/x/web-interface/nav") {
    return Nav(in);
  }
  if (path == "/x/frontend/finger/spi") {
    return Finger();
  }
  if (path == "/x/space/wbi/arc/search") {
    return SignedSpaceList(in);
  }
  if (path == "/x/player/wbi/v2" || path == "/x/player/v2") {
    return Player(in, path == "/x/player/wbi/v2");
  }
  if (path.rfind(kSubtitlePath, 0) == 0) {
    return SubtitleBody();
  }
  return std::nullopt;
}

Reply SiteRoutes::Nav(const Incoming& in) {
  Json answer = ReadJson(m_catalogue->DataDir() / kNavFile);
  if (answer.is_discarded()) {
    return TextReply(500, std::string("cannot read ") + kNavFile);
  }
  {
    std::lock_guard lock(m_mutex);
    if (!m_wbiImgKey.empty()) {
      answer["data"]["wbi_img"]["img_url"] = kWbiImageBase + m_wbiImgKey + ".png";
      answer["data"]["wbi_img"]["sub_url"] = kWbiImageBase + m_wbiSubKey + ".png";
    }
  }
  const std::string sessdata = m_catalogue->Settings()["account"]["sessdata"].get<std::string>();
  if (in.request.Header("Cookie").find("SESSDATA=" + sessdata) != std::string::npos) {
    answer["code"] = 0;
    answer["message"] = "0";
    answer["data"]["isLogin"] = true;
  }
  return JsonReply(DumpApiJson(PointedAtSite(answer)));
}

Reply SiteRoutes::Finger() {
  Json answer = ReadJson(m_catalogue->DataDir() / kFingerFile);
  return answer.is_discarded() ? TextReply(500, std::string("cannot read ") + kFingerFile)
                               : JsonReply(DumpApiJson(answer));
}

bool SiteRoutes::SignatureValid(const Incoming& in) const {
  std::string img;
  std::string sub;
  {
    std::lock_guard lock(m_mutex);
    img = m_wbiImgKey;
    sub = m_wbiSubKey;
  }
  if (img.empty()) {
    const Json nav = ReadJson(m_catalogue->DataDir() / kNavFile);
    if (nav.is_discarded()) return false;
    img = StemOf(nav["data"]["wbi_img"]["img_url"].get<std::string>());
    sub = StemOf(nav["data"]["wbi_img"]["sub_url"].get<std::string>());
  }
  const std::string both = img + sub;
  if (both.size() < 64) return false;
  std::string mixin;
  for (unsigned char position : kMixinPositions) mixin += both[position];

  // httplib has decoded the query (and '+' into a space); re-encoding it the
  // site's way means a client that encodes differently fails here.
  std::multimap<std::string, std::string> sorted;
  std::string given;
  for (const auto& [key, value] : in.parsed.params) {
    if (key == "w_rid") {
      given = value;
    } else {
      sorted.emplace(key, value);
    }
  }
  const auto wts = sorted.find("wts");
  if (given.empty() || wts == sorted.end() || wts->second.empty() ||
      wts->second.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  std::string query;
  for (const auto& [key, value] : sorted) {
    query += (query.empty() ? "" : "&") + EncodeComponent(key) + "=" +
             EncodeComponent(Unfiltered(value));
  }
  return Md5LowerHex(query + mixin) == given;
}

Reply SiteRoutes::SignedSpaceList(const Incoming& in) {
  if (!SignatureValid(in)) {
    return JsonReply(kRiskControlBody);
  }
  return SpaceList(in);
}

Reply SiteRoutes::Player(const Incoming& in, bool signedCall) {
  if (signedCall && !SignatureValid(in)) {
    return JsonReply(kRiskControlBody);
  }
  std::int64_t aid = 0;
  try {
    aid = std::stoll(in.Param("aid"));
  } catch (const std::exception&) {
    return JsonReply(kUnknownVideoBody);
  }
  const auto video = m_catalogue->FindVideoByAid(aid);
  if (!video) {
    return JsonReply(kUnknownVideoBody);
  }
  const Json& config = m_catalogue->Settings()["subtitles"];
  const Json& listed = config["bvids"];
  const bool hasTracks = std::find(listed.begin(), listed.end(), video->bvid) != listed.end();
  const std::string file = config[hasTracks ? "answer" : "plainAnswer"].get<std::string>();
  Json answer = ReadJson(m_catalogue->DataDir() / file);
  if (answer.is_discarded()) {
    return TextReply(500, "cannot read " + file);
  }
  answer["data"]["aid"] = aid;
  answer["data"]["bvid"] = video->bvid;
  answer["data"]["cid"] = std::atoll(in.Param("cid").c_str());
  if (hasTracks) {
    for (Json& track : answer["data"]["subtitle"]["subtitles"]) {
      track["subtitle_url"] = BaseUrl() + kSubtitlePath + track["lan"].get<std::string>() + ".json";
    }
  }
  return JsonReply(DumpApiJson(answer));
}

Reply SiteRoutes::SubtitleBody() {
  const std::string file = m_catalogue->Settings()["subtitles"]["body"].get<std::string>();
  std::ifstream in(m_catalogue->DataDir() / file, std::ios::binary);
  if (!in) {
    return TextReply(500, "cannot read " + file);
  }
  std::ostringstream text;
  text << in.rdbuf();
  return JsonReply(text.str());
}

}  // namespace korvid::fakesite

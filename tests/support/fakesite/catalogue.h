#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace korvid::fakesite {

using Json = nlohmann::ordered_json;

enum class PageKind {
  State,          // one __INITIAL_STATE__ line for this video
  NoState,        // a page without the line
  OtherBvid,      // the state of another video
  ErrorState,     // a state without a video (empty videoData)
  ErrorState404,  // as ErrorState, answered with HTTP 404
};

enum class ViewKind { Ok, Blocked, NotFound };

// One video as the fake site serves it. URLs are still the recorded ones;
// the routes point them at the fake site when answering.
struct Video {
  std::string bvid;
  Json data;   // the view API's "data" object
  Json state;  // the page's __INITIAL_STATE__ object; null for NoState
  PageKind page = PageKind::State;
  ViewKind view = ViewKind::Ok;
};

// An uploader space or a favourites folder of generated videos.
struct VideoList {
  std::int64_t id = 0;  // mid or media id
  std::string name;
  int count = 0;
  std::string bvidPrefix;
  std::int64_t firstCid = 0;
  std::vector<int> typeIds;  // video k has typeIds[(k - 1) % size]; empty: all 21

  // Videos k up to count + kGrowthRoom exist, unlisted, so a test can add
  // them to the top of the list while the site runs (SiteRoutes::GrowList).
  static constexpr int kGrowthRoom = 100;
  int grown = 0;  // of count, the newest videos added while running

  [[nodiscard]] std::string Bvid(int k) const;  // k from 1
  // The video at a list position (from 1, newest first): the grown videos
  // first, newest (highest k) on top, then videos 1, 2, ...
  [[nodiscard]] int VideoAt(int position) const {
    return position <= grown ? count - position + 1 : position - grown;
  }
  [[nodiscard]] int TypeId(int k) const;
  [[nodiscard]] std::int64_t Cid(int k) const { return firstCid + k - 1; }
};

// Everything the fake site knows, read from tests/data/fakesite/videos.json
// and the recorded answers it names.
class Catalogue {
 public:
  [[nodiscard]] bool Load(const std::filesystem::path& dataDir, std::string& error);

  [[nodiscard]] std::optional<Video> FindVideo(const std::string& id) const;
  [[nodiscard]] std::optional<Video> FindVideoByAid(std::int64_t aid) const;
  [[nodiscard]] bool KnowsCid(std::int64_t cid) const;

  // For a list video past its list's count (room for growing): how far past,
  // with the list's id; 0 for every other video.
  [[nodiscard]] int PastCount(const std::string& bvid, std::int64_t& listId) const;

  [[nodiscard]] const VideoList* FindSpace(std::int64_t mid) const;
  [[nodiscard]] const VideoList* FindFavourites(std::int64_t mediaId) const;
  // The generated video k (from 1) of a list.
  [[nodiscard]] Video ListVideo(const VideoList& list, int k) const;

  // The comment document served for a cid (the empty document when unknown).
  [[nodiscard]] std::filesystem::path CommentFile(std::int64_t cid) const;

  [[nodiscard]] const Json& Account() const { return m_account; }
  [[nodiscard]] const Json& Settings() const { return m_settings; }
  [[nodiscard]] const Json& SpaceTemplate() const { return m_spaceTemplate; }
  [[nodiscard]] const Json& FavouritesTemplate() const { return m_favouritesTemplate; }
  [[nodiscard]] const Json& DashTemplate() const { return m_dashTemplate; }
  // The recorded DASH answer served for a cid: the one its video's "dash"
  // entry names, else DashTemplate().
  [[nodiscard]] const Json& DashAnswerFor(std::int64_t cid) const;
  [[nodiscard]] const Json& DurlTemplate() const { return m_durlTemplate; }
  [[nodiscard]] const std::filesystem::path& DataDir() const { return m_dataDir; }

 private:
  [[nodiscard]] Json MadeUpData(const Json& entry) const;
  [[nodiscard]] Json LoadJson(const std::string& relative, std::string& error) const;
  [[nodiscard]] bool AddVideo(const Json& entry, std::string& error);
  void FinishVideo(Video& video, const Json& tags) const;
  [[nodiscard]] bool AddDashRecording(const std::string& file, const Video& video,
                                      std::string& error);
  [[nodiscard]] const VideoList* ListOfCid(std::int64_t cid, int& k) const;

  std::filesystem::path m_dataDir;
  Json m_settings;
  Json m_template;
  std::map<std::string, Video> m_videos;
  std::map<std::string, std::string> m_otherBvid;  // bvid -> bvid whose state its page shows
  std::vector<VideoList> m_spaces;
  std::vector<VideoList> m_favourites;
  std::map<std::int64_t, std::string> m_comments;
  std::string m_emptyComments;
  std::string m_listComments;
  Json m_account;
  Json m_spaceTemplate;
  Json m_favouritesTemplate;
  Json m_dashTemplate;
  std::map<std::string, Json> m_dashRecordings;         // by file
  std::map<std::int64_t, std::string> m_dashFileOfCid;  // cids with a recording of their own
  Json m_durlTemplate;
};

// Tag objects shaped like the site's, one per name.
[[nodiscard]] Json MakeTags(const std::vector<std::string>& names, std::int64_t ctime);

}  // namespace korvid::fakesite

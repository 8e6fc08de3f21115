#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "transfer/worker_set.h"

namespace korvid {

inline constexpr std::string_view kAvatarUploadBusy = "正在上传中...";
inline constexpr std::string_view kAvatarUploadRunning = "正在上传头像，请等待...";

// A person as the Emby server lists it.
struct EmbyPerson {
  std::string name;
  std::string id;

  friend bool operator==(const EmbyPerson&, const EmbyPerson&) = default;
};

// Why the persons could not be listed.
enum class EmbyFailure {
  kNone,
  kNoAddress,    // no server address or no key given
  kUnreachable,  // no answer from the address
  kKeyRefused,   // 401 or 403
  kServerError,  // another status outside 2xx
  kBadAnswer,    // 2xx, but not a persons list
};

// The notice text of a failure. Never holds the key.
[[nodiscard]] std::string EmbyFailureText(EmbyFailure failure);

// The server address with "/" appended when it does not end in one.
[[nodiscard]] std::string EmbyAddress(std::string_view url);

// Items[].Name and Items[].Id of a persons answer; nothing when the text is
// not such an answer. Items without a name or an id are left out.
[[nodiscard]] std::optional<std::vector<EmbyPerson>> ParseEmbyPersons(std::string_view body);

struct EmbyPersonsResult {
  EmbyFailure failure = EmbyFailure::kNone;
  std::vector<EmbyPerson> persons;
};
// GET address + "emby/Persons?api_key=" + key.
[[nodiscard]] EmbyPersonsResult ListEmbyPersons(std::string_view address, std::string_view key);

// POSTs the picture, Base64-encoded with "Content-Type: image/jpg", as the
// item's primary image; true when the server answered 2xx.
[[nodiscard]] bool UploadPrimaryImage(std::string_view address, std::string_view key,
                                      std::string_view itemId, std::string_view pictureBytes);

// The collected picture of a person: 头像/<name>.jpg, else the name as the
// avatar collector cleans it for a file name. Nothing for a name that would
// leave the folder or when no file exists.
[[nodiscard]] std::optional<std::filesystem::path> AvatarFileFor(
    const std::filesystem::path& avatarFolder, std::string_view personName);

struct AvatarUploadResult {
  EmbyFailure failure = EmbyFailure::kNone;  // listing the persons failed
  int successes = 0;
  int failures = 0;        // without a picture, or not uploaded
  int withoutPicture = 0;  // of the failures: no picture collected for the person

  // Uploads the server refused or that broke off (people without a picture,
  // such as actors of other libraries, are no such failure).
  [[nodiscard]] int RefusedUploads() const { return failures - withoutPicture; }
};

// After each person: how many of how many are done, and whether it worked.
using AvatarProgress =
    std::function<void(std::size_t done, std::size_t total, const EmbyPerson&, bool uploaded)>;

// Lists the persons and uploads the picture of each; a person without a
// picture or whose upload the server refused counts as a failure. Once *stop
// is set no further person is started.
[[nodiscard]] AvatarUploadResult UploadAvatars(std::string_view url, std::string_view key,
                                               const std::filesystem::path& avatarFolder,
                                               const AvatarProgress& progress = {},
                                               const std::atomic<bool>* stop = nullptr);

// "上传头像完成，成功：N      失败：M".
[[nodiscard]] std::string UploadDoneText(const AvatarUploadResult& result);

// The upload button: reads 编辑框_emby_url and 编辑框_emby_api and uploads on
// a worker of its own, one at a time (busy flag kAvatarUpload), reporting in
// the caption, and with a notice when the server could not be used.
class AvatarUploader {
 public:
  explicit AvatarUploader(AppState& state) : m_state(state) {}
  ~AvatarUploader();  // stops a running upload after its current person
  AvatarUploader(const AvatarUploader&) = delete;
  AvatarUploader& operator=(const AvatarUploader&) = delete;

  // False (with the notice) while an upload runs. One starting thread only.
  bool Start();
  void Wait();

 private:
  void Run();

  AppState& m_state;
  std::atomic<bool> m_stop{false};
  // Last: its destructor joins the worker before what it uses goes.
  WorkerSet m_worker;
};

}  // namespace korvid

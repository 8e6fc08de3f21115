#include "library/emby_upload.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <system_error>

#include "controls/control_names.h"
#include "net/http_client.h"
#include "net/http_text.h"

namespace korvid {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUploadFailed = "上传头像失败：";
constexpr std::string_view kUploadJob = "Emby avatar upload";

bool IsSuccess(int status) {
  return status >= 200 && status < 300;
}

std::string PersonsUrl(std::string_view address, std::string_view key) {
  return EmbyAddress(address) + "emby/Persons?api_key=" + std::string(key);
}

// An Id is the server's text: escaped, it stays one path segment.
std::string PathSegment(std::string_view text) {
  static constexpr std::string_view kKept =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~";
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string segment;
  for (const char c : text) {
    if (kKept.find(c) != std::string_view::npos) {
      segment += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      segment += '%';
      segment += kHex[byte >> 4];
      segment += kHex[byte & 0x0F];
    }
  }
  return segment;
}

std::string ImageUrl(std::string_view address, std::string_view key, std::string_view id) {
  return EmbyAddress(address) + "emby/Items/" + PathSegment(id) +
         "/Images/Primary?api_key=" + std::string(key);
}

// Names of pictures are written with these characters removed (and trailing
// blanks cut), so a person named "A-B." has its picture in "AB.jpg".
std::string CleanedAvatarName(std::string_view name) {
  static constexpr std::string_view kRemoved[] = {"\\", "/", ":", "*", "?", "\"", "<", ">",
                                                  "|",  "-", ".", "(", ")", "）", "（"};
  std::string cleaned(name);
  for (std::string_view piece : kRemoved) {
    for (std::size_t at = cleaned.find(piece); at != std::string::npos; at = cleaned.find(piece)) {
      cleaned.erase(at, piece.size());
    }
  }
  while (!cleaned.empty() && cleaned.back() == ' ') cleaned.pop_back();
  return cleaned;
}

// A name the server sends must not lead out of the avatar folder.
bool SafeFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<std::string> ReadFileBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

std::string EmbyFailureText(EmbyFailure failure) {
  switch (failure) {
    case EmbyFailure::kNone:
      return {};
    case EmbyFailure::kNoAddress:
      return "请先填写Emby地址和API密钥";
    case EmbyFailure::kUnreachable:
      return "无法连接Emby服务器";
    case EmbyFailure::kKeyRefused:
      return "Emby拒绝了API密钥";
    case EmbyFailure::kServerError:
      return "Emby服务器返回错误";
    case EmbyFailure::kBadAnswer:
      return "Emby人员列表无法读取";
  }
  return {};
}

std::string EmbyAddress(std::string_view url) {
  std::string address = Trim(url);
  if (!address.ends_with('/')) address += '/';
  return address;
}

std::optional<std::vector<EmbyPerson>> ParseEmbyPersons(std::string_view body) {
  const auto answer = nlohmann::json::parse(body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) return std::nullopt;
  const auto items = answer.find("Items");
  if (items == answer.end() || !items->is_array()) return std::nullopt;
  std::vector<EmbyPerson> persons;
  for (const auto& item : *items) {
    if (!item.is_object()) continue;
    const auto name = item.find("Name");
    const auto id = item.find("Id");
    if (name == item.end() || id == item.end() || !name->is_string() || !id->is_string()) continue;
    persons.push_back({name->get<std::string>(), id->get<std::string>()});
  }
  return persons;
}

EmbyPersonsResult ListEmbyPersons(std::string_view address, std::string_view key) {
  if (Trim(address).empty() || key.empty()) return {EmbyFailure::kNoAddress, {}};
  const HttpResponse response = HttpRequestInet(PersonsUrl(address, key));
  if (!response.Completed()) return {EmbyFailure::kUnreachable, {}};
  if (response.status == 401 || response.status == 403) return {EmbyFailure::kKeyRefused, {}};
  if (!IsSuccess(response.status)) return {EmbyFailure::kServerError, {}};
  auto persons = ParseEmbyPersons(response.body);
  if (!persons) return {EmbyFailure::kBadAnswer, {}};
  return {EmbyFailure::kNone, std::move(*persons)};
}

bool UploadPrimaryImage(std::string_view address, std::string_view key, std::string_view itemId,
                        std::string_view pictureBytes) {
  HttpDirectOptions options;
  options.method = static_cast<int>(HttpMethod::kPost);
  options.body = Base64Encode(pictureBytes);
  options.headers = "Content-Type: image/jpg";
  const HttpDirectResponse response = HttpRequestDirect(ImageUrl(address, key, itemId), options);
  return response.Completed() && IsSuccess(response.status);
}

std::optional<fs::path> AvatarFileFor(const fs::path& avatarFolder, std::string_view personName) {
  for (const std::string& name : {std::string(personName), CleanedAvatarName(personName)}) {
    if (!SafeFileName(name)) continue;
    const fs::path file = avatarFolder / (name + ".jpg");
    std::error_code error;
    if (fs::is_regular_file(file, error)) return file;
  }
  return std::nullopt;
}

AvatarUploadResult UploadAvatars(std::string_view url, std::string_view key,
                                 const fs::path& avatarFolder, const AvatarProgress& progress,
                                 const std::atomic<bool>* stop) {
  const EmbyPersonsResult listed = ListEmbyPersons(url, key);
  AvatarUploadResult result;
  result.failure = listed.failure;
  std::size_t done = 0;
  for (const EmbyPerson& person : listed.persons) {
    if (stop != nullptr && stop->load()) break;
    const auto file = AvatarFileFor(avatarFolder, person.name);
    const auto bytes = file ? ReadFileBytes(*file) : std::nullopt;
    const bool uploaded = bytes && UploadPrimaryImage(url, key, person.id, *bytes);
    ++(uploaded ? result.successes : result.failures);
    if (!file) ++result.withoutPicture;
    if (progress) progress(++done, listed.persons.size(), person, uploaded);
  }
  return result;
}

std::string UploadDoneText(const AvatarUploadResult& result) {
  return "上传头像完成，成功：" + std::to_string(result.successes) + "      失败：" +
         std::to_string(result.failures);
}

AvatarUploader::~AvatarUploader() {
  // At exit: a long list against a slow server must not hold the program.
  m_stop = true;
  Wait();
}

bool AvatarUploader::Start() {
  BusyGuard busy = m_state.Busy().TryAcquire(BusyFlag::kAvatarUpload);
  if (!busy) {
    m_state.Ui().ShowNotice(kAvatarUploadBusy, kNoticeFailed);
    return false;
  }
  Wait();
  auto held = std::make_shared<BusyGuard>(std::move(busy));
  return m_worker.Start(kUploadJob, [this, held] {
    Run();
    held->Release();
  });
}

void AvatarUploader::Wait() {
  m_worker.JoinAll();
}

void AvatarUploader::Run() {
  Controls& ui = m_state.Ui();
  const std::string url = ui.Text(kEmbyUrlBox);
  const std::string key = ui.Text(kEmbyKeyBox);
  SetStatusCaption(ui, kAvatarUploadRunning);
  const AvatarUploadResult result =
      UploadAvatars(url, key, m_state.Paths().AvatarFolder(), {}, &m_stop);
  if (result.failure != EmbyFailure::kNone) {
    const std::string reason = EmbyFailureText(result.failure);
    SetStatusCaption(ui, std::string(kUploadFailed) + reason);
    ui.ShowNotice(reason, kNoticeFailed);
  } else {
    SetStatusCaption(ui, UploadDoneText(result));
  }
}

}  // namespace korvid

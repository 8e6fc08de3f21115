#include "library/emby_upload.h"

#include <gtest/gtest.h>

#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "net/http_text.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {
namespace fs = std::filesystem;
using fakesite::FakeSite;

class EmbyUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(site.Start());
    key = site.EmbyApiKey();
    fs::create_directories(avatars);
  }

  void Picture(const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(box.WriteFile(fs::path("头像") / (name + ".jpg"), bytes));
  }

  FakeSite site;
  test::Sandbox box;
  fs::path avatars = box / "头像";
  std::string key;
};

TEST_F(EmbyUploadTest, UploadsEachCollectedPictureOnceWithOrWithoutTrailingSlash) {
  site.SetEmbyPersons({{"甲", "101"}, {"乙", "102"}, {"丙", "103"}});
  Picture("甲", std::string("\xFF\xD8\xFF\x00jpeg-a", 10));
  Picture("丙", "jpeg-c");

  for (const std::string& url : {site.BaseUrl(), site.BaseUrl() + "/"}) {
    SCOPED_TRACE(url);
    site.ClearRequests();
    std::vector<std::pair<std::size_t, bool>> steps;
    const AvatarUploadResult result =
        UploadAvatars(url, key, avatars, [&](std::size_t done, std::size_t total, auto&, bool ok) {
          EXPECT_EQ(total, 3U);
          steps.emplace_back(done, ok);
        });
    EXPECT_EQ(result.failure, EmbyFailure::kNone);
    EXPECT_EQ(result.successes, 2);
    EXPECT_EQ(result.failures, 1);
    EXPECT_EQ(UploadDoneText(result), "上传头像完成，成功：2      失败：1");
    EXPECT_EQ(steps, (std::vector<std::pair<std::size_t, bool>>{{1, true}, {2, false}, {3, true}}));

    std::vector<std::string> paths;
    for (const auto& request : site.Requests())
      paths.push_back(request.method + " " + request.path);
    EXPECT_EQ(paths,
              (std::vector<std::string>{"GET /emby/Persons", "POST /emby/Items/101/Images/Primary",
                                        "POST /emby/Items/103/Images/Primary"}));
    EXPECT_EQ(site.Requests()[1].query, "api_key=" + key);
  }
  const auto uploads = site.EmbyUploads();
  ASSERT_EQ(uploads.size(), 4U);
  EXPECT_EQ(uploads[0].itemId, "101");
  EXPECT_EQ(uploads[0].contentType, "image/jpg");
  EXPECT_EQ(uploads[0].body, Base64Encode(std::string("\xFF\xD8\xFF\x00jpeg-a", 10)));
  EXPECT_EQ(uploads[1].itemId, "103");
  EXPECT_EQ(uploads[1].body, Base64Encode("jpeg-c"));
}

TEST_F(EmbyUploadTest, AnIdStaysOnePathSegmentAndMissingPicturesAreCountedApart) {
  site.SetEmbyPersons({{"甲", "p/1?x#y %"}, {"乙", "102"}});
  Picture("甲", "a");
  const AvatarUploadResult result = UploadAvatars(site.BaseUrl(), key, avatars);
  EXPECT_EQ(result.failures, 2);
  EXPECT_EQ(result.withoutPicture, 1);
  EXPECT_EQ(result.RefusedUploads(), 1);  // the stand-in has no item of that Id
  ASSERT_EQ(site.Requests().size(), 2U);
  EXPECT_EQ(site.Requests()[1].path, "/emby/Items/p/1?x#y %/Images/Primary");  // as decoded
  EXPECT_EQ(site.Requests()[1].query, "api_key=" + key);
}

TEST_F(EmbyUploadTest, NamesWithQuotesAndCleanedNamesFindTheirPictures) {
  site.SetEmbyPersons(
      {{"He said \"hi\"", "101"}, {"A-B. (乙)", "102"}, {"..", "103"}, {"../头像/甲", "104"}});
  Picture("He said \"hi\"", "quoted");
  Picture("AB 乙", "cleaned");  // how the avatar collector names the file
  Picture("甲", "not to be reached through a path in a name");

  const AvatarUploadResult result = UploadAvatars(site.BaseUrl(), key, avatars);
  EXPECT_EQ(result.successes, 2);
  EXPECT_EQ(result.failures, 2);
  const auto uploads = site.EmbyUploads();
  ASSERT_EQ(uploads.size(), 2U);
  EXPECT_EQ(uploads[0].itemId, "101");
  EXPECT_EQ(uploads[0].body, Base64Encode("quoted"));
  EXPECT_EQ(uploads[1].itemId, "102");
  EXPECT_EQ(uploads[1].body, Base64Encode("cleaned"));
}

TEST_F(EmbyUploadTest, FailuresOfTheServerAreReportedNotCountedAsZero) {
  site.SetEmbyPersons({{"甲", "101"}});
  Picture("甲", "a");

  EXPECT_EQ(UploadAvatars(site.BaseUrl(), "wrong", avatars).failure, EmbyFailure::kKeyRefused);
  EXPECT_EQ(UploadAvatars(site.BaseUrl(), "", avatars).failure, EmbyFailure::kNoAddress);
  EXPECT_EQ(UploadAvatars("  ", key, avatars).failure, EmbyFailure::kNoAddress);

  site.SetCanned("GET", "/emby/Persons", {200, {}, "<html>login</html>", "text/html"});
  EXPECT_EQ(UploadAvatars(site.BaseUrl(), key, avatars).failure, EmbyFailure::kBadAnswer);
  site.ClearCanned();

  // Stopped (the program ends): nobody is started after the list.
  const std::atomic<bool> stop{true};
  const AvatarUploadResult stopped = UploadAvatars(site.BaseUrl(), key, avatars, {}, &stop);
  EXPECT_EQ(stopped.successes + stopped.failures, 0);
  EXPECT_TRUE(site.EmbyUploads().empty());

  // A refused upload is a failure, not a success.
  site.SetFault("/emby/Items", fakesite::Fault::Status(500));
  const AvatarUploadResult refused = UploadAvatars(site.BaseUrl(), key, avatars);
  EXPECT_EQ(refused.failure, EmbyFailure::kNone);
  EXPECT_EQ(refused.successes, 0);
  EXPECT_EQ(refused.failures, 1);

  const std::string downUrl = site.BaseUrl();
  site.Stop();
  EXPECT_EQ(UploadAvatars(downUrl, key, avatars).failure, EmbyFailure::kUnreachable);
}

TEST_F(EmbyUploadTest, UploaderReportsInTheCaptionAndNeverShowsTheKey) {
  ControlStore controls;
  CreateMainWindowControls(controls);
  AppState state(controls, AppPaths{box.Path()});
  AvatarUploader uploader(state);
  site.SetEmbyPersons({{"甲", "101"}, {"乙", "102"}});
  Picture("甲", "a");
  controls.SetText(kEmbyUrlBox, site.BaseUrl());
  controls.SetText(kEmbyKeyBox, key);

  ASSERT_TRUE(uploader.Start());
  uploader.Wait();
  EXPECT_EQ(controls.CaptionHistory(),
            (std::vector<std::string>{"Korvid - 正在上传头像，请等待...",
                                      "Korvid - 上传头像完成，成功：1      失败：1"}));
  EXPECT_FALSE(state.Busy().IsSet(BusyFlag::kAvatarUpload));

  controls.SetText(kEmbyKeyBox, "secret-wrong-key");
  ASSERT_TRUE(uploader.Start());
  uploader.Wait();
  ASSERT_EQ(controls.NoticeHistory().size(), 1U);
  EXPECT_EQ(controls.NoticeHistory()[0].text, "Emby拒绝了API密钥");
  EXPECT_EQ(controls.NoticeHistory()[0].title, "失败");
  EXPECT_EQ(controls.Caption(), "Korvid - 上传头像失败：Emby拒绝了API密钥");

  state.Busy()[BusyFlag::kAvatarUpload] = 1;
  EXPECT_FALSE(uploader.Start());
  EXPECT_EQ(controls.NoticeHistory().back().text, "正在上传中...");
}

}  // namespace
}  // namespace korvid

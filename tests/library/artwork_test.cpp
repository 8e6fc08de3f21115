#include "library/artwork.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/file_helpers.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(AtomicFile, ReplacesWholeOrLeavesEverythingAsItWas) {
  test::Sandbox sandbox;
  ASSERT_TRUE(sandbox.WriteFile("a.ass", "old"));
  EXPECT_TRUE(WriteFileAtomically(sandbox / "a.ass", "new"));
  EXPECT_EQ(sandbox.ReadFile("a.ass"), "new");

  EXPECT_EQ(WriteFileIfMissing(sandbox / "a.ass", "other"), SideFileResult::kExisted);
  EXPECT_EQ(WriteFileIfMissing(sandbox / "b.xml", ""), SideFileResult::kFailed);
  EXPECT_EQ(WriteFileIfMissing(sandbox / "b.xml", "<i/>"), SideFileResult::kWritten);
  EXPECT_FALSE(WriteFileAtomically(sandbox / "no such folder" / "c.nfo", "x"));
  // A folder where the file should go: the rename fails, the folder stays.
  fs::create_directory(sandbox / "d.jpg");
  EXPECT_FALSE(WriteFileAtomically(sandbox / "d.jpg", "x"));

  auto entries = FolderEntries(sandbox.Path());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"a.ass", "b.xml", "d.jpg"})) << "temporary left";
}

struct ArtworkCase {
  std::string name;
  std::optional<fakesite::Fault> fault;
  SideFileResult result;
  int gets;
  bool picture;  // the file holds the served picture
};

TEST(Artwork, FanArtFetchedWithSizeCheck) {
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string picture = site.MediaBytes(fakesite::MediaKind::Image);
  ASSERT_FALSE(picture.empty());
  const std::vector<ArtworkCase> cases = {
      {"served whole", std::nullopt, SideFileResult::kWritten, 1, true},
      // No size to compare with: fetched three times, the last answer kept.
      {"no size given", fakesite::Fault::Chunked(), SideFileResult::kWritten, 3, true},
      {"broken off", fakesite::Fault::DropAfter(100), SideFileResult::kFailed, 3, false},
      {"not found", fakesite::Fault::Status(404), SideFileResult::kFailed, 3, false},
  };
  for (const ArtworkCase& artCase : cases) {
    SCOPED_TRACE(artCase.name);
    test::Sandbox sandbox;
    site.ClearFaults();
    site.ClearRequests();
    if (artCase.fault) site.SetFault("/img/", *artCase.fault);
    const std::string url = site.BaseUrl() + "/img/bfs/archive/cover.jpg";
    EXPECT_EQ(WriteFanArtIfMissing(sandbox.Path(), url), artCase.result);
    int gets = 0;
    for (const auto& request : site.Requests()) gets += request.method == "GET" ? 1 : 0;
    EXPECT_EQ(gets, artCase.gets);
    EXPECT_EQ(fs::exists(sandbox / "fanart.jpg"), artCase.picture);
    if (artCase.picture) {
      EXPECT_EQ(sandbox.ReadFile("fanart.jpg"), picture);
    }
    EXPECT_EQ(FolderEntries(sandbox.Path()).size(), artCase.picture ? 1u : 0u);
  }

  // An existing picture is neither fetched nor touched; no address, no request.
  site.ClearFaults();
  site.ClearRequests();
  test::Sandbox sandbox;
  ASSERT_TRUE(sandbox.WriteFile("fanart.jpg", "mine"));
  EXPECT_EQ(WriteFanArtIfMissing(sandbox.Path(), site.BaseUrl() + "/img/a.jpg"),
            SideFileResult::kExisted);
  EXPECT_EQ(FetchPictureIfMissing("", sandbox / "face.jpg"), SideFileResult::kFailed);
  EXPECT_EQ(sandbox.ReadFile("fanart.jpg"), "mine");
  EXPECT_TRUE(site.Requests().empty());
  site.Stop();
}

}  // namespace
}  // namespace korvid

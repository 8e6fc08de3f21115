// The written subtitles as a player draws them (libass): a viewer's comment
// holding an override block must not change how it is drawn.

#include <gtest/gtest.h>

#include <string>

#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "danmaku/danmaku_to_ass.h"

#if KORVID_HAVE_LIBASS
#include <ass/ass.h>
#endif

namespace korvid {
namespace {

#if KORVID_HAVE_LIBASS
// A bottom comment at 1 s, shown until 5 s: the text stands on y = 408, so a
// larger one grows up into the picture.
std::string BottomComment(const std::string& text) {
  return "<i><d p=\"1.00000,4,25,16777215,0,0,a,1,11\">" + text + "</d></i>";
}

constexpr int kFrameWidth = 560;
constexpr int kFrameHeight = 420;
constexpr long long kShownAtMs = 2000;

// Pixels with any coverage in the frame drawn at kShownAtMs.
long LitPixels(std::string ass) {
  ASS_Library* library = ass_library_init();
  ASS_Renderer* renderer = ass_renderer_init(library);
  ass_set_frame_size(renderer, kFrameWidth, kFrameHeight);
  ass_set_fonts(renderer, nullptr, "WenQuanYi Micro Hei", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
  ASS_Track* track = ass_read_memory(library, ass.data(), ass.size(), nullptr);
  long lit = 0;
  if (track != nullptr) {
    for (ASS_Image* image = ass_render_frame(renderer, track, kShownAtMs, nullptr);
         image != nullptr; image = image->next) {
      for (int y = 0; y < image->h; ++y) {
        for (int x = 0; x < image->w; ++x) lit += image->bitmap[y * image->stride + x] > 0;
      }
    }
    ass_free_track(track);
  }
  ass_renderer_done(renderer);
  ass_library_done(library);
  return lit;
}
#endif

TEST(AssRender, AnOverrideBlockInACommentDrawsAsPlainText) {
#if KORVID_HAVE_LIBASS
  ControlStore controls;
  CreateMainWindowControls(controls);
  const DanmakuSettings settings = ReadDanmakuSettings(controls);
  const std::string plain = DanmakuToAss(BottomComment("fs200大字"), "1", "BV1", settings);
  const std::string blocked = DanmakuToAss(BottomComment("{\\fs200}大字"), "1", "BV1", settings);
  const long plainLit = LitPixels(plain);
  ASSERT_GT(plainLit, 0) << "no font drew the text";
  // Three more glyphs (the full-width braces and backslash) at the same size.
  const long blockedLit = LitPixels(blocked);
  EXPECT_LE(blockedLit, plainLit * 2);
  // Written as it came, the block would have drawn the text ten times larger.
  std::string raw = blocked;
  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"｛", "{"}, {"＼", "\\"}, {"｝", "}"}}) {
    raw.replace(raw.rfind(from), from.size(), to);
  }
  const long rawLit = LitPixels(raw);
  EXPECT_GT(rawLit, plainLit * 10);
  RecordProperty("lit_plain", static_cast<int>(plainLit));
  RecordProperty("lit_written", static_cast<int>(blockedLit));
  RecordProperty("lit_as_it_came", static_cast<int>(rawLit));
#else
  GTEST_SKIP() << "built without libass";
#endif
}

}  // namespace
}  // namespace korvid

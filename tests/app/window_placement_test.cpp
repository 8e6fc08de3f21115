#include "app/window_placement.h"

#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

TEST(WindowPlacementTest, RoundTripsBesideTheControlSectionsAndRefusesNonsense) {
  test::Sandbox sandbox;
  const std::string path = (sandbox / "Korvid配置.ini").string();
  EXPECT_FALSE(LoadWindowPlacement(path));  // no file yet

  ControlStore controls;
  CreateMainWindowControls(controls);
  controls.SetText(kDownloadPathBox, "/srv/视频");
  ASSERT_TRUE(SaveStates(controls, path));
  const WindowPlacement placement{-8, 30, 1280, 720, true, 2, 1};
  ASSERT_TRUE(SaveWindowPlacement(path, placement));
  EXPECT_EQ(LoadWindowPlacement(path), placement);
  // Saving the controls later keeps the window's section, and the other way round.
  ASSERT_TRUE(SaveStates(controls, path));
  EXPECT_EQ(LoadWindowPlacement(path), placement);
  ControlStore restored;
  CreateMainWindowControls(restored);
  ASSERT_TRUE(RestoreStates(restored, path));
  EXPECT_EQ(restored.Text(kDownloadPathBox), "/srv/视频");

  for (const char* broken :
       {"[窗口]\n左边=0\n顶边=0\n宽度=0\n高度=700\n",
        "[窗口]\n左边=0\n顶边=0\n宽度=abc\n高度=700\n", "[窗口]\n左边=0\n宽度=900\n高度=700\n"}) {
    ASSERT_TRUE(sandbox.WriteFile("broken.ini", broken));
    EXPECT_FALSE(LoadWindowPlacement((sandbox / "broken.ini").string())) << broken;
  }
}

}  // namespace
}  // namespace korvid

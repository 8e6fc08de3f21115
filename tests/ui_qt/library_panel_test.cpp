#include "library_panel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QListView>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <memory>

#include "controls/window_layout.h"
#include "main_window.h"
#include "support/sandbox.h"
#include "ui_test_support.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using test::SpinUntil;

void WriteJpeg(const fs::path& path, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(0x33, 0x99, 0xCC));
  ASSERT_TRUE(image.save(QString::fromStdString(path.string()), "JPG"));
}

class LibraryPanelTest : public ::testing::Test {
 protected:
  LibraryPanelTest() {
    CreateMainWindowControls(m_store);
    fs::create_directories(m_paths.DownloadFolder());
    m_window = std::make_unique<MainWindow>(m_store, m_state.Tasks());
    m_panel = new LibraryPanel(m_state, *m_window);
    m_window->show();
  }

  // count video folders in 下载; every third without fan art.
  void MakeLibrary(int count) {
    for (int i = 0; i < count; ++i) {
      const fs::path folder = m_paths.DownloadFolder() / ("视频" + std::to_string(i));
      ASSERT_TRUE(m_box.WriteFile(folder.lexically_relative(m_box.Path()) / "tvshow.nfo",
                                  "<tvshow><title>标题" + std::to_string(i) + "</title></tvshow>"));
      if (i % 3 != 2) WriteJpeg(folder / "fanart.jpg", 640, 400);
    }
  }

  int LoadedCount() const {
    int loaded = 0;
    for (int row = 0; row < m_panel->Model().rowCount(); ++row)
      loaded += m_panel->Model().IsLoaded(row);
    return loaded;
  }

  test::Sandbox m_box;
  ControlStore m_store;
  AppPaths m_paths{m_box / "程序"};
  AppState m_state{m_store, m_paths};
  std::unique_ptr<MainWindow> m_window;
  LibraryPanel* m_panel = nullptr;
};

TEST_F(LibraryPanelTest, LoadButtonListsEntriesAndOnlyAskedRowsLoad) {
  MakeLibrary(60);
  auto* load = m_window->findChild<QPushButton*>(QStringLiteral("按钮_初始化"));
  ASSERT_NE(load, nullptr);
  load->click();
  ASSERT_TRUE(SpinUntil([&] { return m_panel->Model().rowCount() == 60; }));
  ASSERT_TRUE(SpinUntil([&] { return !m_state.Busy().IsSet(BusyFlag::kLibraryScan); }));
  EXPECT_TRUE(m_store.Caption().starts_with("Korvid - 加载60个视频,耗时："));
  // The library tab is not shown yet: nothing was asked, nothing loaded.
  test::SpinFor(50);
  EXPECT_EQ(LoadedCount(), 0);

  LibraryModel& model = m_panel->Model();
  const auto rowOf = [&](int number) {
    const auto& entries = *model.Entries();
    for (std::size_t row = 0; row < entries.size(); ++row) {
      if (fs::path(entries[row]).parent_path().filename() == "视频" + std::to_string(number)) {
        return static_cast<int>(row);
      }
    }
    return -1;
  };
  const int withArt = rowOf(4);
  const int withoutArt = rowOf(5);
  // Until loaded a row shows an empty title over a blank picture.
  EXPECT_FALSE(model.data(model.index(withArt), Qt::DisplayRole).isValid());
  (void)model.data(model.index(withoutArt), Qt::DecorationRole);
  ASSERT_TRUE(SpinUntil([&] { return model.IsLoaded(withArt) && model.IsLoaded(withoutArt); }));
  EXPECT_EQ(model.data(model.index(withArt), Qt::DisplayRole).toString(), "标题4");
  const auto picture = model.data(model.index(withArt), Qt::DecorationRole).value<QPixmap>();
  EXPECT_EQ(picture.size(), QSize(kThumbnailWidth, kThumbnailHeight));
  EXPECT_EQ(model.data(model.index(withoutArt), Qt::DisplayRole).toString(), "标题5");
  EXPECT_FALSE(model.data(model.index(withoutArt), Qt::DecorationRole).isValid());
  EXPECT_EQ(LoadedCount(), 2);

  // Showing the tab loads what is on screen, not the whole list.
  QListView* view = m_panel->View();
  ASSERT_NE(view, nullptr);
  for (QTabWidget* tabs : m_window->findChildren<QTabWidget*>()) {
    for (int tab = 0; tab < tabs->count(); ++tab) {
      if (tabs->widget(tab)->isAncestorOf(view)) tabs->setCurrentIndex(tab);
    }
  }
  ASSERT_TRUE(view->isVisible());
  ASSERT_TRUE(SpinUntil([&] { return model.IsLoaded(0); }));
  EXPECT_FALSE(view->visualRect(model.index(0)).isEmpty());
  EXPECT_LT(LoadedCount(), 60);
}

TEST_F(LibraryPanelTest, FileMenuActsOnTheEntry) {
  MakeLibrary(1);
  ASSERT_TRUE(m_box.WriteFile("程序/下载/视频0/标题S1E1.mp4", ""));
  ASSERT_TRUE(m_panel->Browser().StartScan());
  ASSERT_TRUE(SpinUntil([&] { return m_panel->Model().rowCount() == 1; }));

  std::unique_ptr<QMenu> menu(m_panel->CreateFileMenu(0, m_window.get()));
  EXPECT_EQ(menu->title(), "文件菜单");
  const QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_EQ(actions[0]->text(), "播放视频");
  EXPECT_EQ(actions[1]->text(), "打开目录");
  actions[0]->trigger();
  actions[1]->trigger();
  const fs::path folder = m_paths.DownloadFolder() / "视频0";
  EXPECT_EQ(m_store.Scripted().OpenedPaths(),
            (std::vector<std::string>{(folder / "标题S1E1.mp4").string(), folder.string()}));
}

TEST(Thumbnail, FitsTheBoxKeepingTheShape) {
  test::Sandbox box;
  WriteJpeg(box / "wide.jpg", 1004, 316);  // 251 x 79 once fitted
  const QImage thumbnail = MakeThumbnail(box / "wide.jpg");
  ASSERT_EQ(thumbnail.size(), QSize(kThumbnailWidth, kThumbnailHeight));
  EXPECT_EQ(qAlpha(thumbnail.pixel(125, 5)), 0);  // above the picture
  EXPECT_EQ(qAlpha(thumbnail.pixel(125, 79)), 255);
  EXPECT_TRUE(MakeThumbnail(box / "missing.jpg").isNull());
  ASSERT_TRUE(box.WriteFile("broken.jpg", "not a picture"));
  EXPECT_TRUE(MakeThumbnail(box / "broken.jpg").isNull());
}

}  // namespace
}  // namespace korvid

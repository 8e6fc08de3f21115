#pragma once

#include <QWidget>

#include "control_widgets.h"

namespace korvid {

// Page builders of the main window: each lays out the controls of one area
// (skipping any the layout does not have) and appends the controls of that
// area that no builder placed, so a control added to the layout always shows.
QWidget* BuildLinkBar(ControlWidgets& widgets);
QWidget* BuildFolderBar(ControlWidgets& widgets);
QWidget* BuildDetailsPage(ControlWidgets& widgets);
QWidget* BuildAccountPage(ControlWidgets& widgets);
QWidget* BuildDanmakuPage(ControlWidgets& widgets);
QWidget* BuildLibraryPage(ControlWidgets& widgets);
QWidget* BuildDownloadSettingsPage(ControlWidgets& widgets);
QWidget* BuildWindowSettingsPage(ControlWidgets& widgets);
QWidget* BuildAboutPage(ControlWidgets& widgets);

// Puts the controls of an area that no builder placed at the end of a page.
void AppendUnplaced(ControlWidgets& widgets, WindowArea area, QWidget& page);

}  // namespace korvid

#pragma once

#include <QObject>

#include "control_binder.h"
#include "site/details_loader.h"

namespace korvid {

// 按钮_解析链接 starts the details loader; a page chosen by the user in
// 下拉框_视频part reloads that page's stream list. Both run on the loader's
// workers, so the window never waits for the site. The connections live as
// long as `context`. Window thread only.
void ConnectDetailsPanel(const ControlBinder& binder, DetailsLoader& loader, QObject* context);

}  // namespace korvid

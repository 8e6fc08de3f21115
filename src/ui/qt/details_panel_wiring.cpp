#include "details_panel_wiring.h"
#include "controls/control_names.h"

#include <QAbstractButton>
#include <QComboBox>

namespace korvid {

void ConnectDetailsPanel(const ControlBinder& binder, DetailsLoader& loader, QObject* context) {
  if (auto* button = qobject_cast<QAbstractButton*>(binder.Object(kLoadDetailsButton))) {
    // A press while a load runs does nothing, as the busy flag says.
    QObject::connect(button, &QAbstractButton::clicked, context,
                     [&loader] { (void)loader.Start(); });
  }
  if (auto* parts = qobject_cast<QComboBox*>(binder.Object(kPartDrop))) {
    // activated: the user's choice only, not the loader refilling the list.
    QObject::connect(parts, &QComboBox::activated, context,
                     [&loader](int index) { loader.SelectPage(index); });
  }
}

}  // namespace korvid

#include "controls/controls.h"

#include <string>

namespace korvid {

void SetStatusCaption(Controls& controls, std::string_view text) {
  if (text.empty()) {
    controls.SetCaption("Korvid");
    return;
  }
  std::string caption = "Korvid - ";
  caption += text;
  controls.SetCaption(caption);
}

}  // namespace korvid

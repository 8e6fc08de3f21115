#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "controls/controls.h"

namespace korvid {

// What a conversion takes from the danmaku tab, as the user left the texts.
struct DanmakuSettings {
  std::string scrollSize;  // 编辑框_滚动弹幕大小: font size of scrolling comments
  std::string fixedSize;   // 编辑框_固定弹幕大小: font size of top and bottom comments
  std::string blockList;   // 编辑框_屏蔽弹幕: comma-separated texts hidden when scrolling
  std::string style;       // 编辑框_弹幕样式: "大小参数" stands for the font size
};

// Reads the four texts now; each conversion reads them afresh.
[[nodiscard]] DanmakuSettings ReadDanmakuSettings(const Controls& controls);

struct DanmakuStats {
  int found = 0;  // comment elements in the document
  int shown = 0;  // event lines written
};

// One page's comment document (UTF-8 XML) as an ASS subtitle: UTF-8 without a
// byte-order mark, CR LF line ends, no line break after the last line. The
// header records bvid and cid ("Original Script: [bid_...],[cid_...]$") so the
// folder refresh can fetch the page's comments again. Never fails: a document
// without comments gives the header and styles alone. Safe on any thread.
[[nodiscard]] std::string DanmakuToAss(std::string_view document, std::string_view cid,
                                       std::string_view bvid, const DanmakuSettings& settings,
                                       DanmakuStats* stats = nullptr);

// Takes the subtitle in pieces, in order; false stops the conversion.
using AssSink = std::function<bool(std::string_view)>;

// The same subtitle handed over in pieces of about a quarter MiB instead of
// held whole, so a long one is written out as it is made. False when the sink
// refused a piece.
[[nodiscard]] bool WriteDanmakuAss(std::string_view document, std::string_view cid,
                                   std::string_view bvid, const DanmakuSettings& settings,
                                   const AssSink& sink, DanmakuStats* stats = nullptr);

// A comment's text as viewers read it: &lt; &gt; &amp; &quot; &apos; and
// numeric references (&#N; &#xN;) decoded once. A reference to no Unicode
// scalar value (0, a surrogate, past U+10FFFF) and every other entity stay as
// written, so "&amp;#128514;" becomes the text "&#128514;".
[[nodiscard]] std::string DecodeCommentText(std::string_view text);

// True when every character of the UTF-8 text is the same one (also for an
// empty text); CR LF counts as one character.
[[nodiscard]] bool ContainsOnlyOneCharacter(std::string_view text);

}  // namespace korvid

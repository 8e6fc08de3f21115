// Parses arbitrary text, reads it by an arbitrary path and writes through it.
// Input: one length byte, that many bytes of path, then the JSON text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/json_document.h"
#include "net/text_width.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void ReadEverything(const korvid::JsonDocument& document, std::string_view path) {
  (void)document.GetValue(path);
  (void)document.GetValue(path, true);
  (void)document.GetCount(path);
  (void)document.TypeOf(path);
  (void)document.GetNumber(path);
  (void)document.GetItemValue(0, path);
  std::vector<std::string> texts;
  (void)document.GetNames(texts, path);
  (void)document.GetAllValues(texts, path, true);
  std::string resolved(path);
  const bool exists = document.ResolvePath(resolved);
  Check(exists == document.Exists(path));
  const std::string sub = document.GetObject(path).ToText();
  Check(exists ? sub == document.GetJson(path) : sub == "null");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t pathLength =
      std::min<std::size_t>(static_cast<unsigned char>(input[0]), input.size() - 1);
  const std::string_view path = input.substr(1, pathLength);
  const std::string_view text = input.substr(1 + pathLength);

  korvid::JsonDocument document;
  korvid::JsonParseError error;
  const bool parsed = document.Parse(text, false, &error);
  const std::string serialised = document.ToText();
  Check(korvid::IsWellFormedUtf8(serialised));
  if (parsed) {
    // What the document writes, it reads back unchanged.
    korvid::JsonDocument again;
    Check(again.Parse(serialised));
    Check(again.ToText() == serialised);
  } else {
    Check(error.byte <= text.size() || error.number != 0);
  }
  ReadEverything(document, path);

  korvid::JsonDocument copy = document;
  // Text set is text read, unless it holds the marker character itself.
  if (copy.SetValue(path, text) && text.find("\xE2\x90\x80") == std::string_view::npos) {
    Check(copy.GetValue(path) == korvid::RepairUtf8(text));
  }
  (void)copy.SetValue(path, text, true);
  (void)copy.Append(path, text, true, (size & 1) != 0);
  (void)copy.SetItem(1, path, text);
  (void)copy.RemoveItem(0, path);
  (void)copy.Delete(path);
  (void)copy.SetNumber(path, static_cast<double>(size) / 3);
  korvid::JsonDocument reread;
  Check(!reread.Parse(copy.ToText()) || reread.ToText() == copy.ToText());
  return 0;
}

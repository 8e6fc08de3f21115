#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace korvid {

// What Parse knows about a failure. Fields that a JSON parser cannot know
// (help file and context) stay empty.
struct JsonParseError {
  int number = 0;           // parser error id (101 syntax), kJsonErrorTooDeep, kJsonErrorNul
  std::string source;       // "JsonDocument"
  std::string description;  // parser message
  std::string helpFile;     // always empty
  int helpContext = 0;      // always 0
  std::string text;         // source text from the failure position (up to 40 bytes)
  int line = 0;             // 1-based
  int column = 0;           // 1-based, in characters
  std::size_t byte = 0;     // 0-based byte offset of the failure
};

inline constexpr int kJsonErrorTooDeep = -1;
inline constexpr int kJsonErrorNul = -2;  // a NUL byte in the text

// Type codes of TypeOf.
enum JsonType : int {
  kJsonMissing = 0,  // null or missing
  kJsonBoolean = 1,
  kJsonNumber = 2,
  kJsonObject = 4,
  kJsonArray = 5,
  kJsonString = 6,
  kJsonOther = 255,
};

// A JSON tree read and written by path: "data.pages[0].cid", "data['a']['b']",
// "[0].Id" on a root array, "" for the root. A missing step makes the whole
// path missing: reads give "", 0 or a null document. Nothing here throws.
//
// Text forms: GetValue gives strings unquoted, numbers as scripts print them
// (integers of up to 64 bits with every digit), arrays joined with ',' and
// objects as "[object Object]". GetJson and ToText give compact JSON with
// members in their stored order. Text stored with SetValue keeps its
// backslashes as U+2400 and every read turns U+2400 back into a backslash (in
// JSON as the escape \\, so the JSON stays valid). Ill-formed UTF-8 coming in
// becomes U+FFFD.
//
// Writes go to an existing value, a new member of an existing object or the
// element just past the end of an existing array; a path through a missing
// member fails and changes nothing.
//
// Copies share one tree: a change through one handle shows through the other.
// GetObject and GetItemObject return independent copies. A document belongs to
// one thread at a time.
class JsonDocument {
 public:
  using Json = nlohmann::ordered_json;

  // Documents nested deeper than this are refused by every operation that
  // takes JSON text, so no tree ever gets deep enough to exhaust the stack.
  static constexpr int kMaxDepth = 512;

  JsonDocument();
  JsonDocument(const JsonDocument&) = default;
  JsonDocument& operator=(const JsonDocument&) = default;
  ~JsonDocument() = default;

  // Root becomes an empty object.
  bool Create();
  // Replaces the root. False (and a null root) for text that is not JSON
  // (trailing text and NUL bytes included), for the text "null" and for
  // documents nested deeper than kMaxDepth. The
  // literal flag is accepted for callers written against the script engine;
  // both forms read strict JSON (a leading byte-order mark is skipped).
  bool Parse(std::string_view text, bool literal = false, JsonParseError* error = nullptr);
  void Clear();
  [[nodiscard]] std::string ToText() const;

  // As JSON ("" counts as {}), a value merged into an existing object: it
  // takes the new members; a member that is an object on both sides merges in
  // turn, a member that is an array takes the new elements at the end, others
  // (numbers too) are replaced. Any other value at the path, an array
  // included, is replaced.
  bool SetValue(std::string_view path, std::string_view value, bool valueIsJson = false);
  bool SetExpression(std::string_view path, std::string_view expression);
  // Rewrites path into its canonical rooted form ("$.data.pages[0]") and tells
  // whether it names a value that is not null. An unreadable path is left as is.
  bool ResolvePath(std::string& path) const;
  [[nodiscard]] bool Exists(std::string_view path) const;
  [[nodiscard]] int TypeOf(std::string_view path) const;
  [[nodiscard]] std::string GetValue(std::string_view path, bool asJson = false) const;
  int GetNames(std::vector<std::string>& names, std::string_view path = {}) const;
  [[nodiscard]] int GetCount(std::string_view path = {}) const;
  [[nodiscard]] JsonDocument GetObject(std::string_view path) const;
  // A value at the path that is not an array is replaced by an empty one first.
  bool Append(std::string_view path, std::string_view value, bool valueIsJson = false,
              bool atFront = false);
  [[nodiscard]] JsonDocument GetItemObject(int index, std::string_view path = {}) const;
  [[nodiscard]] std::string GetItemValue(int index, std::string_view path = {},
                                         bool asJson = false) const;
  bool SetItem(int index, std::string_view path, std::string_view value, bool valueIsJson = false);
  bool RemoveItem(int index, std::string_view path = {});
  // Removes a member, or an array element closing the gap; not the root.
  bool Delete(std::string_view path);
  // NaN and infinities have no JSON form and are refused.
  bool SetNumber(std::string_view path, double number);
  // Numbers, booleans as 1/0 and strings that hold a plain number; 0 otherwise.
  [[nodiscard]] double GetNumber(std::string_view path) const;
  [[nodiscard]] std::string GetJson(std::string_view path = {}) const;
  // The tree itself, read-only.
  [[nodiscard]] const Json& GetEngine() const { return *m_root; }
  // Strings, numbers and booleans among the members (recursive: all leaves),
  // null skipped; a value holding "[2020年7月20日20时0分0秒]" comes back split
  // at that text.
  int GetAllValues(std::vector<std::string>& values, std::string_view path = {},
                   bool recursive = false) const;

 private:
  std::shared_ptr<Json> m_root;
};

// Text forms shared with other readers of JSON values.
// A number the way ECMAScript prints it: shortest round-trip digits, exponent
// form from 1e21 on and below 1e-6.
[[nodiscard]] std::string FormatJsonNumber(double value);
// Compact JSON of a value with the document's escaping rules.
[[nodiscard]] std::string SerializeJson(const nlohmann::ordered_json& value);

}  // namespace korvid

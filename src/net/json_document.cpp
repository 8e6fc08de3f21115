#include "net/json_document.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <unordered_map>
#include <utility>

#include <nlohmann/json.hpp>

#include "net/text_width.h"

namespace korvid {

namespace {

using Json = JsonDocument::Json;

// Text values set through SetValue keep their backslashes as U+2400; every
// text that leaves the document turns the marker back into a backslash.
constexpr std::string_view kEscapeMarker = "\xE2\x90\x80";
constexpr std::string_view kValueSeparator = "[2020年7月20日20时0分0秒]";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kErrorTextLength = 40;

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  std::size_t position = text.find(from);
  while (position != std::string::npos) {
    text.replace(position, from.size(), to);
    position = text.find(from, position + to.size());
  }
  return text;
}

std::string UnmarkBackslashes(std::string text) {
  if (text.find(kEscapeMarker) == std::string::npos) return text;
  return ReplaceAll(std::move(text), kEscapeMarker, "\\");
}

// ---- Paths -----------------------------------------------------------------

struct PathStep {
  std::string name;
  std::size_t index = 0;
  bool isIndex = false;
  bool quoted = false;
};
using Path = std::vector<PathStep>;

std::optional<std::size_t> ParseIndex(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::size_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

// "12" names element 12 of an array when written as a quoted member, as it
// would in a script; "012" does not.
std::optional<std::size_t> CanonicalIndex(std::string_view name) {
  if (name.empty() || (name.size() > 1 && name[0] == '0')) return std::nullopt;
  for (const char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return ParseIndex(name);
}

bool ParseBracket(std::string_view path, std::size_t& position, Path& steps) {
  ++position;  // '['
  if (position >= path.size()) return false;
  const char quote = path[position];
  PathStep step;
  if (quote == '\'' || quote == '"') {
    ++position;
    while (position < path.size() && path[position] != quote) {
      if (path[position] == '\\' && position + 1 < path.size()) ++position;
      step.name += path[position++];
    }
    if (position >= path.size()) return false;
    ++position;  // closing quote
    step.quoted = true;
  } else {
    const std::size_t close = path.find(']', position);
    if (close == std::string_view::npos) return false;
    const auto index = ParseIndex(path.substr(position, close - position));
    if (!index) return false;
    step.index = *index;
    step.isIndex = true;
    position = close;
  }
  if (position >= path.size() || path[position] != ']') return false;
  ++position;
  steps.push_back(std::move(step));
  return true;
}

bool ParseName(std::string_view path, std::size_t& position, Path& steps) {
  const std::size_t start = position;
  while (position < path.size() && path[position] != '.' && path[position] != '[') {
    if (path[position] == ']') return false;
    ++position;
  }
  if (position == start) return false;
  steps.push_back(PathStep{std::string(path.substr(start, position - start))});
  return true;
}

// A path not starting with '[' is joined to the root with a '.'. Names are
// repaired like parsed text so that a write never stores broken UTF-8.
std::optional<Path> ParsePath(std::string_view path) {
  std::string repaired;
  if (!IsValidUtf8(path)) {
    repaired = RepairUtf8(path);
    path = repaired;
  }
  Path steps;
  std::size_t position = 0;
  if (!path.empty() && path[0] != '[' && !ParseName(path, position, steps)) return std::nullopt;
  while (position < path.size()) {
    const char c = path[position];
    bool ok = false;
    if (c == '.') {
      ++position;
      ok = ParseName(path, position, steps);
    } else if (c == '[') {
      ok = ParseBracket(path, position, steps);
    }
    if (!ok) return std::nullopt;
  }
  return steps;
}

bool IsPlainName(std::string_view name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = byte >= 0x80 || c == '_' || c == '$' || (c >= 'a' && c <= 'z') ||
                       (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain) return false;
  }
  return true;
}

std::string CanonicalPath(const Path& steps) {
  std::string text = "$";
  for (const PathStep& step : steps) {
    if (step.isIndex) {
      text += '[' + std::to_string(step.index) + ']';
    } else if (IsPlainName(step.name)) {
      text += '.' + step.name;
    } else {
      text += "[\"" + ReplaceAll(ReplaceAll(step.name, "\\", "\\\\"), "\"", "\\\"") + "\"]";
    }
  }
  return text;
}

// Index of the element a step names in an array, if any.
std::optional<std::size_t> ArrayIndex(const PathStep& step) {
  if (step.isIndex) return step.index;
  if (step.quoted) return CanonicalIndex(step.name);
  return std::nullopt;
}

std::string MemberName(const PathStep& step) {
  return step.isIndex ? std::to_string(step.index) : step.name;
}

const Json* Child(const Json& node, const PathStep& step) {
  if (node.is_object()) {
    const auto found = node.find(MemberName(step));
    return found == node.end() ? nullptr : &*found;
  }
  if (node.is_array()) {
    const auto index = ArrayIndex(step);
    return index && *index < node.size() ? &node[*index] : nullptr;
  }
  return nullptr;
}

const Json* Find(const Json& root, const Path& steps, std::size_t count) {
  const Json* node = &root;
  for (std::size_t i = 0; i < count && node != nullptr; ++i) node = Child(*node, steps[i]);
  return node;
}

const Json* Find(const Json& root, const Path& steps) {
  return Find(root, steps, steps.size());
}

Json* FindMutable(Json& root, const Path& steps) {
  return const_cast<Json*>(Find(std::as_const(root), steps));
}

// The place a write goes to: an existing value, or a new member of an existing
// object, or the element just past the end of an existing array. Nothing is
// created when the path runs through a missing member.
Json* Slot(Json& root, const Path& steps) {
  if (steps.empty()) return &root;
  Json* parent = const_cast<Json*>(Find(std::as_const(root), steps, steps.size() - 1));
  if (parent == nullptr) return nullptr;
  const PathStep& last = steps.back();
  if (parent->is_object()) return &(*parent)[MemberName(last)];
  if (parent->is_array()) {
    const auto index = ArrayIndex(last);
    if (!index || *index > parent->size()) return nullptr;
    if (*index == parent->size()) parent->push_back(nullptr);
    return &(*parent)[*index];
  }
  return nullptr;
}

Path WithIndex(Path steps, int index) {
  PathStep step;
  step.isIndex = true;
  step.index = static_cast<std::size_t>(index);
  steps.push_back(std::move(step));
  return steps;
}

// ---- Text forms ------------------------------------------------------------

std::string NumberText(const Json& value) {
  if (value.is_number_unsigned()) return std::to_string(value.get<std::uint64_t>());
  if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
  return FormatJsonNumber(value.get<double>());
}

// Booleans and numbers read the same as text and as JSON. False for other types.
bool AppendBooleanOrNumber(std::string& out, const Json& value) {
  if (value.is_boolean()) {
    out += value.get<bool>() ? "true" : "false";
    return true;
  }
  if (!value.is_number()) return false;
  out += NumberText(value);
  return true;
}

void AppendScriptText(std::string& out, const Json& value) {
  if (AppendBooleanOrNumber(out, value)) return;
  switch (value.type()) {
    case Json::value_t::string:
      out += value.get_ref<const std::string&>();
      break;
    case Json::value_t::array: {
      bool first = true;
      for (const Json& element : value) {
        if (!first) out += ',';
        first = false;
        AppendScriptText(out, element);
      }
      break;
    }
    case Json::value_t::object:
      out += "[object Object]";
      break;
    default:
      break;
  }
}

std::string ScriptText(const Json& value) {
  std::string text;
  AppendScriptText(text, value);
  return UnmarkBackslashes(std::move(text));
}

void AppendQuoted(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else if (text.substr(i, kEscapeMarker.size()) == kEscapeMarker) {
          // The marker stands for a backslash; written raw it would break the JSON.
          out += "\\\\";
          i += kEscapeMarker.size() - 1;
        } else {
          out += static_cast<char>(byte);
        }
    }
  }
  out += '"';
}

void AppendJson(std::string& out, const Json& value) {
  if (AppendBooleanOrNumber(out, value)) return;
  switch (value.type()) {
    case Json::value_t::string:
      AppendQuoted(out, value.get_ref<const std::string&>());
      break;
    case Json::value_t::array: {
      out += '[';
      bool first = true;
      for (const Json& element : value) {
        if (!first) out += ',';
        first = false;
        AppendJson(out, element);
      }
      out += ']';
      break;
    }
    case Json::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [name, member] : value.items()) {
        if (!first) out += ',';
        first = false;
        AppendQuoted(out, name);
        out += ':';
        AppendJson(out, member);
      }
      out += '}';
      break;
    }
    default:
      out += "null";
      break;
  }
}

// ---- Reading JSON text -----------------------------------------------------

struct NestingScan {
  int depth = 0;              // deepest nesting of arrays and objects
  std::size_t tooDeepAt = 0;  // offset of the bracket past the limit
  bool tooDeep = false;
};

NestingScan ScanNesting(std::string_view text) {
  NestingScan scan;
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > JsonDocument::kMaxDepth) {
        scan.tooDeep = true;
        scan.tooDeepAt = i;
        return scan;
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return scan;
}

void LocateError(std::string_view text, std::size_t offset, JsonParseError& error) {
  offset = std::min(offset, text.size());
  error.byte = offset;
  error.line = 1;
  error.column = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++error.line;
      error.column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++error.column;
    }
  }
  std::size_t end = std::min(text.size(), offset + kErrorTextLength);
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  error.text = std::string(text.substr(offset, end - offset));
}

std::string StripExceptionPrefix(const std::string& message) {
  // "[json.exception.parse_error.101] parse error at ..." -> "parse error at ..."
  if (message.empty() || message[0] != '[') return message;
  const std::size_t close = message.find("] ");
  return close == std::string::npos ? message : message.substr(close + 2);
}

// Builds the tree from parser events. Members go straight to the end of their
// object with a hash index on large objects, because the ordered map searches
// linearly and would make objects with many members quadratic to read. A
// repeated name keeps its first place and takes the last value.
class TreeBuilder {
 public:
  explicit TreeBuilder(Json& root) : m_root(root) {}

  bool null() { return Put(nullptr); }
  bool boolean(bool value) { return Put(value); }
  bool number_integer(Json::number_integer_t value) { return Put(value); }
  bool number_unsigned(Json::number_unsigned_t value) { return Put(value); }
  bool number_float(Json::number_float_t value, const Json::string_t& /*text*/) {
    return Put(value);
  }
  bool string(Json::string_t& value) { return Put(std::move(value)); }
  bool binary(Json::binary_t& /*value*/) { return false; }
  bool start_object(std::size_t /*count*/) { return Open(Json::object()); }
  bool start_array(std::size_t /*count*/) { return Open(Json::array()); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(Json::string_t& name) {
    Frame& frame = m_frames.back();
    auto& members = static_cast<Members&>(frame.container->get_ref<Json::object_t&>());
    const std::size_t found = FindMember(frame, members, name);
    if (found < members.size()) {
      m_slot = &members[found].second;
      return true;
    }
    if (!frame.index.empty()) frame.index.emplace(name, members.size());
    members.emplace_back(std::move(name), nullptr);
    m_slot = &members.back().second;
    return true;
  }

  bool parse_error(std::size_t position, const std::string& /*lastToken*/,
                   const nlohmann::detail::exception& exception) {
    m_errorPosition = position;
    m_errorNumber = exception.id;
    m_errorMessage = exception.what();
    return false;
  }

  [[nodiscard]] bool TooDeep() const { return m_tooDeep; }
  [[nodiscard]] int MaxDepth() const { return m_maxDepth; }
  [[nodiscard]] std::size_t ErrorPosition() const { return m_errorPosition; }
  [[nodiscard]] int ErrorNumber() const { return m_errorNumber; }
  [[nodiscard]] const std::string& ErrorMessage() const { return m_errorMessage; }

 private:
  using Members = std::vector<std::pair<const std::string, Json>>;
  static constexpr std::size_t kIndexFrom = 32;

  struct Frame {
    Json* container;
    std::unordered_map<std::string, std::size_t> index;
  };

  static std::size_t FindMember(Frame& frame, const Members& members, const std::string& name) {
    if (members.size() < kIndexFrom) {
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (members[i].first == name) return i;
      }
      return members.size();
    }
    if (frame.index.empty()) {
      for (std::size_t i = 0; i < members.size(); ++i) frame.index.emplace(members[i].first, i);
    }
    const auto found = frame.index.find(name);
    return found == frame.index.end() ? members.size() : found->second;
  }

  // Where the next value goes. Containers below the open one are never
  // touched while it is open, so the pointers on the stack stay valid.
  Json* Place(Json&& value) {
    if (m_frames.empty()) {
      m_root = std::move(value);
      return &m_root;
    }
    Json* container = m_frames.back().container;
    if (container->is_array()) {
      container->push_back(std::move(value));
      return &container->back();
    }
    *m_slot = std::move(value);
    return m_slot;
  }

  bool Put(Json&& value) {
    Place(std::move(value));
    return true;
  }

  bool Open(Json&& container) {
    if (static_cast<int>(m_frames.size()) >= JsonDocument::kMaxDepth) {
      m_tooDeep = true;
      return false;
    }
    m_frames.push_back(Frame{Place(std::move(container)), {}});
    m_maxDepth = std::max(m_maxDepth, static_cast<int>(m_frames.size()));
    return true;
  }

  bool Close() {
    m_frames.pop_back();
    return true;
  }

  Json& m_root;
  std::vector<Frame> m_frames;
  Json* m_slot = nullptr;
  int m_maxDepth = 0;
  bool m_tooDeep = false;
  std::size_t m_errorPosition = 0;
  int m_errorNumber = 0;
  std::string m_errorMessage;
};

// Moving a Json does not throw; the check cannot see through its members.
struct ParsedJson {  // NOLINT(bugprone-exception-escape)
  Json value;
  int depth = 0;
};

void RecordError(std::string_view text, const TreeBuilder& builder, JsonParseError& error) {
  if (builder.TooDeep()) {
    error.number = kJsonErrorTooDeep;
    error.description = "nested deeper than " + std::to_string(JsonDocument::kMaxDepth) + " levels";
    LocateError(text, ScanNesting(text).tooDeepAt, error);
    return;
  }
  error.number = builder.ErrorNumber();
  error.description = StripExceptionPrefix(builder.ErrorMessage());
  const std::size_t position = builder.ErrorPosition();
  LocateError(text, position > 0 ? position - 1 : 0, error);
}

std::optional<ParsedJson> ReadJson(std::string_view text, JsonParseError* error) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  std::string repaired;
  if (!IsValidUtf8(text)) {
    repaired = RepairUtf8(text);
    text = repaired;
  }
  // The parser takes a NUL byte for the end of the text, so "{}" followed by
  // NUL and anything at all would pass. JSON never holds a raw NUL.
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    if (error != nullptr) {
      error->number = kJsonErrorNul;
      error->description = "NUL byte in the text";
      LocateError(text, nul, *error);
    }
    return std::nullopt;
  }
  ParsedJson parsed;
  TreeBuilder builder(parsed.value);
  if (Json::sax_parse(text.begin(), text.end(), &builder)) {
    parsed.depth = builder.MaxDepth();
    return parsed;
  }
  if (error != nullptr) RecordError(text, builder, *error);
  return std::nullopt;
}

// A value to store: parsed JSON (an empty text counts as {}) or a string.
std::optional<ParsedJson> MakeValue(std::string_view text, bool isJson) {
  if (isJson) {
    if (text.empty()) return ParsedJson{Json::object(), 1};
    return ReadJson(text, nullptr);
  }
  std::string stored = IsValidUtf8(text) ? std::string(text) : RepairUtf8(text);
  return ParsedJson{Json(ReplaceAll(std::move(stored), "\\", kEscapeMarker)), 0};
}

bool FitsDepth(const Path& steps, int valueDepth, int extra = 0) {
  return static_cast<long long>(steps.size()) + valueDepth + extra <= JsonDocument::kMaxDepth;
}

// Merges source into target: arrays take the source's elements at the end;
// objects take the source's members, recursing into members that are objects
// or arrays on both sides; anything else is replaced. Members are found
// through a hash index: the ordered map searches linearly, which made a merge
// of many members quadratic.
void Extend(Json& target, Json source) {
  if (target.is_array()) {
    if (source.is_array()) {
      for (Json& element : source) target.push_back(std::move(element));
    } else {
      target.push_back(std::move(source));
    }
    return;
  }
  if (!target.is_object() || !source.is_object()) {
    target = std::move(source);
    return;
  }
  using Members = std::vector<std::pair<const std::string, Json>>;
  auto& members = static_cast<Members&>(target.get_ref<Json::object_t&>());
  auto& added = static_cast<Members&>(source.get_ref<Json::object_t&>());
  std::unordered_map<std::string, std::size_t> index;
  index.reserve(members.size() + added.size());
  for (std::size_t i = 0; i < members.size(); ++i) index.emplace(members[i].first, i);
  for (auto& [name, member] : added) {
    const auto [found, isNew] = index.emplace(name, members.size());
    if (isNew) {
      members.emplace_back(name, std::move(member));
      continue;
    }
    Json& existing = members[found->second].second;
    if (existing.is_array() || (existing.is_object() && member.is_object())) {
      Extend(existing, std::move(member));
    } else {
      existing = std::move(member);
    }
  }
}

void CollectValues(const Json& node, bool recursive, std::vector<std::string>& out) {
  if (!node.is_object() && !node.is_array()) return;
  for (const Json& child : node) {
    if (child.is_string() || child.is_number() || child.is_boolean()) {
      out.push_back(ScriptText(child));
    } else if (recursive && (child.is_object() || child.is_array())) {
      CollectValues(child, true, out);
    }
  }
}

// Results are produced inside this guard so that nothing ever leaves a
// document as an exception (allocation failures included).
template <typename Result, typename Body>
Result Guarded(Result fallback, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

}  // namespace

// ---- Free functions ----------------------------------------------------------

std::string FormatJsonNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0) return "0";
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  if (ec != std::errc()) return {};
  std::string_view scientific(buffer, static_cast<std::size_t>(end - buffer));
  const bool negative = scientific.front() == '-';
  if (negative) scientific.remove_prefix(1);
  // scientific is now d[.ddd]e(+|-)xx
  const std::size_t ePos = scientific.find('e');
  std::string digits(1, scientific[0]);
  if (ePos > 1) digits += scientific.substr(2, ePos - 2);
  const int exponent = std::atoi(std::string(scientific.substr(ePos + 1)).c_str());
  const int k = static_cast<int>(digits.size());
  const int n = exponent + 1;  // value = 0.digits * 10^n

  std::string text = negative ? "-" : "";
  if (k <= n && n <= 21) {
    text += digits;
    text.append(static_cast<std::size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    text += digits.substr(0, static_cast<std::size_t>(n));
    text += '.';
    text += digits.substr(static_cast<std::size_t>(n));
  } else if (-6 < n && n <= 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-n), '0');
    text += digits;
  } else {
    text += digits[0];
    if (k > 1) {
      text += '.';
      text += digits.substr(1);
    }
    text += n - 1 >= 0 ? "e+" : "e-";
    text += std::to_string(std::abs(n - 1));
  }
  return text;
}

std::string SerializeJson(const nlohmann::ordered_json& value) {
  return Guarded(std::string(), [&] {
    std::string text;
    AppendJson(text, value);
    return text;
  });
}

// ---- JsonDocument ------------------------------------------------------------

JsonDocument::JsonDocument() : m_root(std::make_shared<Json>(Json::object())) {}

bool JsonDocument::Create() {
  Clear();
  return true;
}

bool JsonDocument::Parse(std::string_view text, bool /*literal*/, JsonParseError* error) {
  return Guarded(false, [&] {
    if (error != nullptr) *error = JsonParseError{};
    *m_root = nullptr;
    auto parsed = ReadJson(text, error);
    if (!parsed) {
      if (error != nullptr) error->source = "JsonDocument";
      return false;
    }
    *m_root = std::move(parsed->value);
    return !m_root->is_null();
  });
}

void JsonDocument::Clear() {
  Guarded(0, [&] {
    *m_root = Json::object();
    return 0;
  });
}

std::string JsonDocument::ToText() const {
  return SerializeJson(*m_root);
}

bool JsonDocument::SetValue(std::string_view path, std::string_view value, bool valueIsJson) {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    auto made = MakeValue(value, valueIsJson);
    if (!steps || !made || !FitsDepth(*steps, made->depth)) return false;
    Json* existing = FindMutable(*m_root, *steps);
    if (valueIsJson && existing != nullptr && existing->is_object()) {
      Extend(*existing, std::move(made->value));
      return true;
    }
    Json* slot = Slot(*m_root, *steps);
    if (slot == nullptr) return false;
    *slot = std::move(made->value);
    return true;
  });
}

bool JsonDocument::SetExpression(std::string_view path, std::string_view expression) {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    auto parsed = ReadJson(expression, nullptr);
    if (!steps || !parsed || !FitsDepth(*steps, parsed->depth)) return false;
    Json* slot = Slot(*m_root, *steps);
    if (slot == nullptr) return false;
    *slot = std::move(parsed->value);
    return true;
  });
}

bool JsonDocument::ResolvePath(std::string& path) const {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    if (!steps) return false;
    path = CanonicalPath(*steps);
    const Json* node = Find(*m_root, *steps);
    return node != nullptr && !node->is_null();
  });
}

bool JsonDocument::Exists(std::string_view path) const {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    const Json* node = steps ? Find(*m_root, *steps) : nullptr;
    return node != nullptr && !node->is_null();
  });
}

int JsonDocument::TypeOf(std::string_view path) const {
  return Guarded(static_cast<int>(kJsonMissing), [&] {
    const auto steps = ParsePath(path);
    const Json* node = steps ? Find(*m_root, *steps) : nullptr;
    if (node == nullptr) return static_cast<int>(kJsonMissing);
    switch (node->type()) {
      case Json::value_t::null:
        return static_cast<int>(kJsonMissing);
      case Json::value_t::boolean:
        return static_cast<int>(kJsonBoolean);
      case Json::value_t::number_integer:
      case Json::value_t::number_unsigned:
      case Json::value_t::number_float:
        return static_cast<int>(kJsonNumber);
      case Json::value_t::object:
        return static_cast<int>(kJsonObject);
      case Json::value_t::array:
        return static_cast<int>(kJsonArray);
      case Json::value_t::string:
        return static_cast<int>(kJsonString);
      default:
        return static_cast<int>(kJsonOther);
    }
  });
}

std::string JsonDocument::GetValue(std::string_view path, bool asJson) const {
  return Guarded(std::string(), [&] {
    const auto steps = ParsePath(path);
    const Json* node = steps ? Find(*m_root, *steps) : nullptr;
    if (node == nullptr) return std::string();
    return asJson ? SerializeJson(*node) : ScriptText(*node);
  });
}

int JsonDocument::GetNames(std::vector<std::string>& names, std::string_view path) const {
  names.clear();
  return Guarded(0, [&] {
    const auto steps = ParsePath(path);
    const Json* node = steps ? Find(*m_root, *steps) : nullptr;
    if (node == nullptr || !node->is_object()) return 0;
    for (const auto& [name, member] : node->items()) names.push_back(UnmarkBackslashes(name));
    return static_cast<int>(names.size());
  });
}

int JsonDocument::GetCount(std::string_view path) const {
  return Guarded(0, [&] {
    const auto steps = ParsePath(path);
    const Json* node = steps ? Find(*m_root, *steps) : nullptr;
    return node != nullptr && node->is_array() ? static_cast<int>(node->size()) : 0;
  });
}

JsonDocument JsonDocument::GetObject(std::string_view path) const {
  JsonDocument copy;
  *copy.m_root = nullptr;
  Guarded(0, [&] {
    const auto steps = ParsePath(path);
    const Json* node = steps ? Find(*m_root, *steps) : nullptr;
    if (node != nullptr) *copy.m_root = *node;
    return 0;
  });
  return copy;
}

bool JsonDocument::Append(std::string_view path, std::string_view value, bool valueIsJson,
                          bool atFront) {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    auto made = MakeValue(value, valueIsJson);
    if (!steps || !made || !FitsDepth(*steps, made->depth, 1)) return false;
    Json* slot = Slot(*m_root, *steps);
    if (slot == nullptr) return false;
    if (!slot->is_array()) *slot = Json::array();
    if (atFront) {
      slot->insert(slot->begin(), std::move(made->value));
    } else {
      slot->push_back(std::move(made->value));
    }
    return true;
  });
}

JsonDocument JsonDocument::GetItemObject(int index, std::string_view path) const {
  JsonDocument copy;
  *copy.m_root = nullptr;
  Guarded(0, [&] {
    const auto steps = ParsePath(path);
    if (!steps || index < 0) return 0;
    const Json* node = Find(*m_root, WithIndex(*steps, index));
    if (node != nullptr) *copy.m_root = *node;
    return 0;
  });
  return copy;
}

std::string JsonDocument::GetItemValue(int index, std::string_view path, bool asJson) const {
  return Guarded(std::string(), [&] {
    const auto steps = ParsePath(path);
    if (!steps || index < 0) return std::string();
    const Json* node = Find(*m_root, WithIndex(*steps, index));
    if (node == nullptr) return std::string();
    return asJson ? SerializeJson(*node) : ScriptText(*node);
  });
}

bool JsonDocument::SetItem(int index, std::string_view path, std::string_view value,
                           bool valueIsJson) {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    if (!steps || index < 0) return false;
    const Path itemPath = WithIndex(*steps, index);
    auto made = MakeValue(value, valueIsJson);
    if (!made || !FitsDepth(itemPath, made->depth)) return false;
    Json* slot = Slot(*m_root, itemPath);
    if (slot == nullptr) return false;
    *slot = std::move(made->value);
    return true;
  });
}

bool JsonDocument::RemoveItem(int index, std::string_view path) {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    Json* node = steps ? FindMutable(*m_root, *steps) : nullptr;
    if (node == nullptr || !node->is_array() || index < 0 ||
        static_cast<std::size_t>(index) >= node->size()) {
      return false;
    }
    node->erase(static_cast<std::size_t>(index));
    return true;
  });
}

bool JsonDocument::Delete(std::string_view path) {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    if (!steps || steps->empty()) return false;
    Json* parent = const_cast<Json*>(Find(*m_root, *steps, steps->size() - 1));
    if (parent == nullptr) return false;
    const PathStep& last = steps->back();
    if (parent->is_object()) return parent->erase(MemberName(last)) > 0;
    const auto index = parent->is_array() ? ArrayIndex(last) : std::nullopt;
    if (!index || *index >= parent->size()) return false;
    parent->erase(*index);
    return true;
  });
}

bool JsonDocument::SetNumber(std::string_view path, double number) {
  return Guarded(false, [&] {
    const auto steps = ParsePath(path);
    if (!steps || !std::isfinite(number) || !FitsDepth(*steps, 0)) return false;
    Json* slot = Slot(*m_root, *steps);
    if (slot == nullptr) return false;
    *slot = number;
    return true;
  });
}

double JsonDocument::GetNumber(std::string_view path) const {
  return Guarded(0.0, [&] {
    const auto steps = ParsePath(path);
    const Json* node = steps ? Find(*m_root, *steps) : nullptr;
    if (node == nullptr) return 0.0;
    if (node->is_number()) return node->get<double>();
    if (node->is_boolean()) return node->get<bool>() ? 1.0 : 0.0;
    if (!node->is_string()) return 0.0;
    const std::string& text = node->get_ref<const std::string&>();
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : 0.0;
  });
}

std::string JsonDocument::GetJson(std::string_view path) const {
  return GetValue(path, true);
}

int JsonDocument::GetAllValues(std::vector<std::string>& values, std::string_view path,
                               bool recursive) const {
  values.clear();
  return Guarded(0, [&] {
    const auto steps = ParsePath(path);
    const Json* node = steps ? Find(*m_root, *steps) : nullptr;
    if (node == nullptr) return 0;
    std::vector<std::string> collected;
    CollectValues(*node, recursive, collected);
    // Values travel joined by the separator and are split again, so a value
    // holding the separator text comes back as two entries.
    for (const std::string& value : collected) {
      std::size_t start = 0;
      std::size_t found = value.find(kValueSeparator);
      while (found != std::string::npos) {
        values.push_back(value.substr(start, found - start));
        start = found + kValueSeparator.size();
        found = value.find(kValueSeparator, start);
      }
      values.push_back(value.substr(start));
    }
    return static_cast<int>(values.size());
  });
}

}  // namespace korvid

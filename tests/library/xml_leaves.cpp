#include "xml_leaves.h"

#include <expat.h>

#include <algorithm>

namespace korvid::test {
namespace {

struct ParseState {
  std::vector<std::string> path;
  std::vector<bool> hasChild;
  std::string text;
  XmlLeaves* out = nullptr;
};

std::string Joined(const std::vector<std::string>& path) {
  std::string joined;
  for (const auto& step : path) joined += (joined.empty() ? "" : "/") + step;
  return joined;
}

void OnStart(void* data, const XML_Char* name, const XML_Char**) {
  auto& state = *static_cast<ParseState*>(data);
  if (!state.hasChild.empty()) state.hasChild.back() = true;
  state.path.emplace_back(name);
  state.hasChild.push_back(false);
  state.text.clear();
  const std::string joined = Joined(state.path);
  auto& all = state.out->allPaths;
  if (std::find(all.begin(), all.end(), joined) == all.end()) all.push_back(joined);
}

void OnEnd(void* data, const XML_Char*) {
  auto& state = *static_cast<ParseState*>(data);
  if (!state.hasChild.back()) state.out->leaves.emplace_back(Joined(state.path), state.text);
  state.path.pop_back();
  state.hasChild.pop_back();
  state.text.clear();
}

void OnText(void* data, const XML_Char* text, int length) {
  static_cast<ParseState*>(data)->text.append(text, static_cast<std::size_t>(length));
}

}  // namespace

std::vector<std::string> XmlLeaves::Texts(const std::string& path) const {
  std::vector<std::string> texts;
  for (const auto& [leafPath, text] : leaves) {
    if (leafPath == path) texts.push_back(text);
  }
  return texts;
}

XmlLeaves ReadXmlLeaves(const std::string& bytes) {
  XmlLeaves result;
  ParseState state;
  state.out = &result;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  result.wellFormed =
      XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
  if (!result.wellFormed) result.error = XML_ErrorString(XML_GetErrorCode(parser));
  XML_ParserFree(parser);
  return result;
}

}  // namespace korvid::test

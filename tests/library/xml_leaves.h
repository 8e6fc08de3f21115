#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korvid::test {

// An XML document read by a real XML parser (expat): every element that holds
// no other element, as its slash-joined path from the root ("movie/actor/name")
// and its text, in document order.
struct XmlLeaves {
  bool wellFormed = false;
  std::string error;  // the parser's message when not well formed
  std::vector<std::pair<std::string, std::string>> leaves;

  // Texts of every leaf at that path, in order.
  [[nodiscard]] std::vector<std::string> Texts(const std::string& path) const;
  // Every path of an element (leaf or not), once each, in order of first use.
  std::vector<std::string> allPaths;
};

[[nodiscard]] XmlLeaves ReadXmlLeaves(const std::string& bytes);

}  // namespace korvid::test

#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace korvid {

// Every file below folder (recursively) whose name ends in extension, compared
// without regard to the case of Latin letters. A folder's own files come
// before those of its sub-folders, each level in the order the file system
// lists it. Folders that cannot be read are skipped; a folder reached again
// through a symbolic link is searched only once.
[[nodiscard]] std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder,
                                                           std::string_view extension);

// The same search, handing each file to visit as it is found (a long search
// then keeps no list of its own).
void ForEachFile(const std::filesystem::path& folder, std::string_view extension,
                 const std::function<void(const std::filesystem::path&)>& visit);

}  // namespace korvid

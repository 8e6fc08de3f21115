#pragma once

#include <filesystem>
#include <string_view>

// Side files (NFO, artwork, danmaku) are written whole or not at all: the
// bytes go to a temporary file beside the target, which is then renamed over
// it. A crash, a full disk or a broken download therefore never leaves a
// truncated file that a later run would take for a finished one.
namespace korvid {

enum class SideFileResult {
  kWritten,  // the file was written now
  kExisted,  // a file was already there and was left alone
  kFailed,   // nothing was written (no bytes to write, or the disk refused)
};

// Writes bytes to path, replacing any file there. The folder must exist.
// False when the temporary file could not be written or renamed; the target
// is then unchanged and no temporary file is left behind.
[[nodiscard]] bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// As WriteFileAtomically, but only when no file exists at path yet.
[[nodiscard]] SideFileResult WriteFileIfMissing(const std::filesystem::path& path,
                                                std::string_view bytes);

}  // namespace korvid

// The little the virtual adapter needs from the operating system: the
// environment, whole-file reads, an atomic file replace, an appended log line
// and a sleep. Paths stay in the system's own form (UTF-16 on Windows) from the
// environment to the file calls, so any path the user can name works.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vadapter {

#ifdef _WIN32
using SysPath = std::wstring;
#else
using SysPath = std::string;
#endif

constexpr size_t kImageSize = 52;
using Image = std::array<uint8_t, kImageSize>;

// An environment variable as it is now (not as it was at start-up); nothing
// when unset. EnvText is for flags and numbers: characters outside ASCII come
// back as '?', which no flag or number accepts.
std::optional<std::string> EnvText(const char* name);
std::optional<SysPath> EnvPath(const char* name);

// Where the image lives when VADAPTER_IMAGE is unset. Creates the folder.
std::optional<SysPath> DefaultImagePath();

enum class ImageState { Read, Missing, Bad };

// Read means the file holds exactly kImageSize bytes, now in `image`. Bad
// covers a short or long file and one that cannot be read (e.g. a folder).
ImageState ReadImage(const SysPath& path, Image& image);

// Writes `image` to a new temporary file beside `path`, flushes it to disk and
// renames it onto `path`, so readers see the old file or the new one, never a
// mix. Without `replace`, an existing file wins and the call fails.
bool InstallImage(const SysPath& path, const Image& image, bool replace);

// Appends one line (with its newline) to the log file in a single write.
void AppendLine(const SysPath& path, const std::string& line);

void SleepMilliseconds(uint32_t milliseconds);

}  // namespace vadapter

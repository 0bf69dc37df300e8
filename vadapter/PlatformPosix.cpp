// The virtual adapter's system layer for the native build (Linux and kin).
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vadapter/Platform.h"

namespace vadapter {
namespace {

bool WriteAll(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The rename itself reaches the disk only with the folder's entry.
void SyncFolder(const std::string& path)
{
    const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// mkdir -p, for the default folder only.
bool MakeFolders(const std::string& folder)
{
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

std::optional<std::string> EnvText(const char* name)
{
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::optional<SysPath> EnvPath(const char* name)
{
    return EnvText(name);
}

std::optional<SysPath> DefaultImagePath()
{
    std::string folder;
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (data && data[0] == '/') folder = std::string(data) + "/varnock";  // relative ones are to be ignored
    else if (home && home[0] == '/') folder = std::string(home) + "/.local/share/varnock";
    else return std::nullopt;
    if (!MakeFolders(folder)) return std::nullopt;
    return folder + "/virtual-adapter.bin";
}

ImageState ReadImage(const SysPath& path, Image& image)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ImageState::Missing : ImageState::Bad;
    // One byte more than the image, to tell a long file from a good one.
    char buffer[kImageSize + 1];
    size_t total = 0;
    bool failed = false;
    while (total < sizeof buffer) {
        const ssize_t n = read(fd, buffer + total, sizeof buffer - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        total += size_t(n);
    }
    close(fd);
    if (failed || total != kImageSize) return ImageState::Bad;
    for (size_t i = 0; i < kImageSize; ++i) image[i] = uint8_t(buffer[i]);
    return ImageState::Read;
}

bool InstallImage(const SysPath& path, const Image& image, bool replace)
{
    // Unique within this folder: the process id and a count. A name left by
    // a killed process with the same id is skipped, not reused.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp-" + std::to_string(getpid()) + '-' + std::to_string(counter++);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    const bool written = WriteAll(fd, image.data(), image.size()) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    bool installed = false;
    if (written && closed) {
        // link() fails on an existing name, where rename() would replace it.
        installed = replace ? rename(temp.c_str(), path.c_str()) == 0 : link(temp.c_str(), path.c_str()) == 0;
    }
    if (!installed || !replace) unlink(temp.c_str());
    if (installed) SyncFolder(path);
    return installed;
}

void AppendLine(const SysPath& path, const std::string& line)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string text = line + '\n';
    WriteAll(fd, text.data(), text.size());
    close(fd);
}

void SleepMilliseconds(uint32_t milliseconds)
{
    timespec left = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace vadapter

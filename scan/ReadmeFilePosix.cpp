// Linux README probe and read. Names here are case-sensitive, so the two
// candidate names are matched against the folder's entries ignoring ASCII case,
// as Windows matches them; reads are bounded and never wait on a pipe or device.
#include "scan/ReadmeFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scan/DirectoryList.h"

namespace {

unsigned char asciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

bool sameIgnoringAsciiCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0)
            close(fd);
    }
};

}  // namespace

std::string findReadme(const std::string& repository) {
    // The listing comes in the walk's fixed order, so of README.md and
    // readme.md the same one is taken every time.
    FolderListing listing;
    if (!listFolder(repository, listing))
        return {};
    for (const char* candidate : {"README.MD", "README.txt"})
        for (const DirectoryEntry& entry : listing.entries)
            if (sameIgnoringAsciiCase(entry.name, candidate))
                return repository + pathSeparator + entry.name;
    return {};
}

std::string readFileStart(const std::string& path, size_t limit) {
    // Checked before opening, so a device is never opened at all, and again
    // on the open file in case the name was replaced in between.
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    FileDescriptor file{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0 || fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode))
        return {};

    // Grown as the file is read, never to limit at once: a limit is a bound, not a size.
    std::string text;
    size_t got = 0;
    while (got < limit + 1) {
        text.resize(std::min(limit + 1, got + 65536));
        ssize_t n = read(file.fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};  // a failed read shows nothing, like an unreadable file
        if (n == 0)
            break;
        got += size_t(n);
    }
    text.resize(got);
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

// Linux folder listing: opendir/readdir, then the entries sorted, because
// readdir returns them in hash order and the walk's "stop at .git" would make
// which folders are walked a matter of luck. Paths resolve through realpath.
#include "scan/DirectoryList.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
};

unsigned char asciiUpper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

// The order NTFS lists ASCII names in: ASCII letters upper-cased, then the raw
// bytes to break ties, so both hosts walk a tree the same way.
bool walkOrder(const DirectoryEntry& a, const DirectoryEntry& b) {
    size_t common = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < common; i++) {
        unsigned char x = asciiUpper(a.name[i]), y = asciiUpper(b.name[i]);
        if (x != y)
            return x < y;
    }
    if (a.name.size() != b.name.size())
        return a.name.size() < b.name.size();
    return a.name < b.name;  // compares bytes as unsigned
}

FolderId idOf(const struct stat& info) { return {uint64_t(info.st_dev), uint64_t(info.st_ino)}; }

}  // namespace

bool listFolder(const std::string& folder, FolderListing& listing) {
    listing = {};
    std::unique_ptr<DIR, CloseDir> dir(opendir(folder.c_str()));
    if (!dir)
        return false;
    int fd = dirfd(dir.get());
    struct stat info;
    if (fstat(fd, &info) == 0)
        listing.id = idOf(info);

    // A read error ends the folder like its end does: what was read is kept.
    while (const dirent* found = readdir(dir.get())) {
        if (strcmp(found->d_name, ".") == 0 || strcmp(found->d_name, "..") == 0)
            continue;
        DirectoryEntry entry;
        entry.name = found->d_name;
        if (found->d_type == DT_DIR) {
            entry.isFolder = true;
        } else if (found->d_type == DT_LNK || found->d_type == DT_UNKNOWN) {
            entry.isLink = found->d_type == DT_LNK ||
                           (fstatat(fd, found->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode));
            // stat follows the link, so a link to a folder counts as a folder;
            // a dangling link stays a plain entry.
            entry.isFolder = fstatat(fd, found->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        listing.entries.push_back(std::move(entry));
    }
    std::sort(listing.entries.begin(), listing.entries.end(), walkOrder);
    return true;
}

std::string resolvedPath(const std::string& path) {
    std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
    return resolved ? resolved.get() : "";
}

std::string makePrivateFolder() {
    const char* temporary = getenv("TMPDIR");
    std::string pattern = std::string(temporary && *temporary == '/' ? temporary : "/tmp") + "/repodeck-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : "";  // mode 0700
}

void removeFolder(const std::string& folder) { rmdir(folder.c_str()); }

std::string currentFolder() {
    std::unique_ptr<char, decltype(&free)> folder(getcwd(nullptr, 0), &free);
    return folder ? folder.get() : "";
}

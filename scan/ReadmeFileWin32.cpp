// Windows README probe and read: GetFileAttributesA, whose name matching ignores
// case, and a read of at most limit + 1 bytes from a disk file only, so a name
// that leads to a pipe or a device can never make the preview wait.
#include "scan/ReadmeFile.h"

#include <windows.h>

#include <algorithm>

std::string findReadme(const std::string& repository) {
    // A folder of that name counts as found too: it then shows as an empty text.
    for (const char* candidate : {"\\README.MD", "\\README.txt"}) {
        std::string path = repository + candidate;
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return path;
    }
    return {};
}

std::string readFileStart(const std::string& path, size_t limit) {
    // Others may go on reading, writing or deleting the file meanwhile.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};  // gone, locked, a folder, or no permission
    std::string text;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // Grown as the file is read, never to limit at once: a limit is a bound, not a size.
        size_t got = 0;
        DWORD n = 0;
        while (got < limit + 1) {
            text.resize(std::min(limit + 1, got + 65536));
            if (!ReadFile(file, text.data() + got, DWORD(text.size() - got), &n, nullptr)) {
                got = 0;  // a failed read shows nothing, like an unreadable file
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        text.resize(got);
    }
    CloseHandle(file);
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

// Scratch folders and files for the Windows tests, which run under wine.
#pragma once

#include <windows.h>

#include <fstream>
#include <string>

// A fresh empty folder in the temporary folder, removed with everything in it
// when the object goes. Paths are joined with backslashes, as the program does.
class ScratchFolder {
public:
    ScratchFolder() {
        char base[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, base);
        static int serial = 0;
        for (;;) {
            root = std::string(base) + "repodeck-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                   std::to_string(++serial);
            if (CreateDirectoryA(root.c_str(), nullptr))
                break;
        }
    }
    ~ScratchFolder() { removeTree(root); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return root; }
    std::string operator/(const std::string& name) const { return root + "\\" + name; }

private:
    std::string root;

    static void removeTree(const std::string& folder) {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                std::string path = folder + "\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    removeTree(path);
                else
                    DeleteFileA(path.c_str());
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
        RemoveDirectoryA(folder.c_str());
    }
};

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline void makeFolder(const std::string& path) {
    CreateDirectoryA(path.c_str(), nullptr);
}

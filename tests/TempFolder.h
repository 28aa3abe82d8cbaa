// A fresh empty folder for a test, Linux and wine alike, removed whole when the
// object goes. Paths in it are joined the way the program joins them.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "scan/DirectoryList.h"

#ifdef _WIN32
#include <windows.h>
inline bool processEnds(long pid) {  // at most 20 s
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    bool ended = !process || WaitForSingleObject(process, 20000) == WAIT_OBJECT_0;
    return process && CloseHandle(process), ended;
}
#else
inline bool processEnds(long pid) {  // gone, or a zombie nobody waits for; at most 20 s
    for (int tries = 0; tries < 400; tries++) {
        std::string field, name, state;
        if (!(std::ifstream("/proc/" + std::to_string(pid) + "/stat") >> field >> name >> state) || state == "Z")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}
#endif

class TempFolder {
public:
    TempFolder() {
        std::random_device random;  // a name that is taken makes create_directory false: another
        do
            root = (std::filesystem::temp_directory_path() / ("repodeck-test-" + std::to_string(random()))).string();
        while (!std::filesystem::create_directory(root));
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return root; }
    std::string operator/(const std::string& name) const { return root + pathSeparator + name; }

private:
    std::string root;
};

// Writes text to a file, replacing it, byte for byte; reads one whole.
inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
inline std::string readFile(const std::string& path) {
    return (std::stringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}
// How often needle occurs in text, without overlaps.
inline int occurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        count++;
    return count;
}

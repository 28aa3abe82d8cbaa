// What every platform shares of its paths.
#include <vector>

#include "scan/DirectoryList.h"

std::string absoluteFolder(const std::string& folder) {
    std::string path = isAbsolutePath(folder) ? folder : currentFolder() + pathSeparator + folder;
    auto isSeparator = [](char c) { return c == '/' || c == pathSeparator; };
    // What stays whatever ".." there are: "/", "C:\" or "\\server\share\".
    size_t rootEnd = 1;
    if (pathSeparator != '/' && path.size() > 2 && path[1] == ':') {
        rootEnd = 3;
    } else if (pathSeparator != '/' && path.starts_with("\\\\")) {
        size_t server = path.find_first_of("/\\", 2);
        size_t share = server == std::string::npos ? server : path.find_first_of("/\\", server + 1);
        rootEnd = share == std::string::npos ? path.size() : share + 1;
    }
    std::string root = path.substr(0, rootEnd);
    std::vector<std::string> names;
    for (size_t at = rootEnd; at < path.size();) {
        size_t end = at;
        while (end < path.size() && !isSeparator(path[end]))
            end++;
        std::string name = path.substr(at, end - at);
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        at = end + 1;
    }
    for (size_t i = 0; i < names.size(); i++)
        root += (i ? std::string(1, pathSeparator) : "") + names[i];
    return root;
}

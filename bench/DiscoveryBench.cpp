// The repository walk alone, as one process, so hyperfine can time it beside
// `find FOLDER -name .git -prune` on the same folder, process start included
// on both sides.
#include <cstdio>
#include <string>

#include "scan/Scan.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: DiscoveryBench FOLDER\n", stderr);
        return 2;
    }
    RepositoryList repositories;
    findRepositories(argv[1], repositories);
    // find prints every path it keeps; print the same kind of result.
    for (const std::string& repository : repositories)
        puts(repository.c_str());
    return repositories.empty() ? 1 : 0;
}

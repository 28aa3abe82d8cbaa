// The repository walk alone, as one process, so hyperfine can time it beside
// `find FOLDER -name .git -prune` on the same folder, process start included
// on both sides.
#include <atomic>
#include <cstdio>
#include <string>

#include "scan/Walk.h"

namespace {

// The walk's notes go nowhere: find prints none either.
class Nowhere : public ScanSink {
    void text(Pane, std::string_view) override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: DiscoveryBench FOLDER\n", stderr);
        return 2;
    }
    Nowhere sink;
    std::atomic<bool> stop{false};
    size_t found = 0;
    // find prints every path it keeps; print the same kind of result.
    findRepositories(argv[1], false, stop, sink, [&](const std::string& repository) {
        puts(repository.c_str());
        found++;
        return true;
    });
    return found == 0 ? 1 : 0;
}

#include "scan/ScanState.h"

ScanState scanState;

void ScanOptions::copyFrom(const ScanOptions& other) {
    for (std::atomic<bool> ScanOptions::*flag :
         {&ScanOptions::fetchEnabled, &ScanOptions::pullEnabled, &ScanOptions::submoduleEnabled,
          &ScanOptions::statusEnabled, &ScanOptions::remoteEnabled, &ScanOptions::readmeEnabled,
          &ScanOptions::summaryEnabled, &ScanOptions::runHooks, &ScanOptions::nestedEnabled})
        this->*flag = (other.*flag).load();
}

std::vector<std::string> ScanState::repositoriesInHand() const {
    std::lock_guard<std::mutex> lock(progressMutex);
    std::vector<std::pair<size_t, std::string>> held;
    for (const auto& slot : inHand)
        if (!slot.second.empty())
            held.push_back(slot);
    std::sort(held.begin(), held.end());
    std::vector<std::string> paths;
    for (auto& [index, path] : held)
        paths.push_back(std::move(path));
    return paths;
}

void ScanState::setInHand(int worker, size_t index, const std::string& repository) {
    std::lock_guard<std::mutex> lock(progressMutex);
    inHand[worker] = {index, repository};
}

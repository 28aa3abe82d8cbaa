#include "scan/ScanState.h"

ScanState scanState;

std::string ScanState::repositoryInHand() const {
    std::lock_guard<std::mutex> lock(progressMutex);
    return inHand;
}

void ScanState::setRepositoryInHand(const std::string& repository) {
    std::lock_guard<std::mutex> lock(progressMutex);
    inHand = repository;
}

// "Rescan" and a folder the user chose: stop, start again.
#include "scan/Scan.h"
#include "scan/ScanState.h"

namespace {

// The session's memory of where the user was; nothing is stored on disk.
std::string lastFolder;

}  // namespace

void scanFolderAt(const std::string& folder) {
    stopScan();
    scanState.abortRequested = false;
    if (startMainScan(folder.c_str()))
        lastFolder = scanState.scanPath;  // made absolute
}

void rescanFolder() {
    if (!lastFolder.empty())
        scanFolderAt(std::string(lastFolder));  // a copy: a started scan replaces it
}

const std::string& lastScannedFolder() { return lastFolder; }

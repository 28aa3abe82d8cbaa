// "Scan Folder" (stop, pick, start) and "Rescan" (stop, start again).
#include "scan/FolderPicker.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

namespace {

// The session's memory of where the user was; nothing is stored on disk.
std::string lastFolder;

void startScan(const std::string& folder) {
    if (startMainScan(folder.c_str()))
        lastFolder = scanState.scanPath;
}

}  // namespace

void scanFolder(uintptr_t pickerOwner) {
    stopScan();
    scanState.abortRequested = false;
    scanState.scanPath[0] = '\0';

    std::optional<std::string> folder = pickFolder(lastFolder, pickerOwner);
    if (!folder || folder->empty())
        return;  // cancelled, or an item with no path: nothing to scan
    startScan(*folder);
}

void scanFolderAt(const std::string& folder) {
    stopScan();
    scanState.abortRequested = false;
    startScan(folder);
}

void rescanFolder() {
    if (!lastFolder.empty())
        scanFolderAt(std::string(lastFolder));  // a copy: startScan replaces it
}

const std::string& lastScannedFolder() { return lastFolder; }

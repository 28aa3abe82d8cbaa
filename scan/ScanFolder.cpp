// The "Scan Folder" button: stop, pick, start.
#include "scan/FolderPicker.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

void scanFolder() {
    stopScan();
    scanState.abortRequested = false;
    scanState.scanPath[0] = '\0';

    std::optional<std::string> folder = pickFolder();
    if (!folder || folder->empty())
        return;  // cancelled, or an item with no path: nothing to scan
    startMainScan(folder->c_str());
}

// The README scan thread: the start of each repository's README in "Read Me".
#include "app/Panes.h"
#include "scan/DirectoryList.h"
#include "scan/ReadmeFile.h"
#include "scan/Scan.h"
#include "scan/ScanState.h"

namespace {

// Bytes of a README shown at most, as the check box's label says.
constexpr size_t previewLimit = 256;

}  // namespace

void readmeScan(RepositoryList repositories) {
    scanState.readmeScanRunning = true;
    logsPane.write("ReadMe Scan Beginning ...");
    logsPane.write("\n");

    for (const std::string& repository : repositories) {
        if (scanState.abortRequested)
            break;
        readmePane.addLog("%s\n\n", repository.c_str());
        // A candidate that exists but cannot be read (a folder, a pipe) still
        // wins over the other one and shows as an empty line; so does a link
        // that leads out of the repository, to a secret or into /proc, or
        // into its .git, whose config may hold a remote's password.
        std::string readme = findReadme(repository);
        if (!readme.empty()) {
            std::string target = resolvedPath(readme), folder = resolvedPath(repository);
            bool own = isInside(target, folder) && !isInside(target, folder + pathSeparator + ".git");
            std::string text = own ? readFileStart(target, previewLimit) : "";
            if (text.size() > previewLimit) {
                // At a character's start: no UTF-8 sequence is cut in two.
                size_t cut = previewLimit;
                while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
                    cut--;
                text.resize(cut);
                text += "...";
            }
            readmePane.addLog("%s\n", text.c_str());
        }
        readmePane.addLog("%s", separatorLine);
    }

    readmePane.addLog("ReadMe Scan Finished !!!\n");
    readmePane.addLog("%s", separatorLine);
    logsPane.write("ReadMe Scan Finished !!!");
    logsPane.write("\n");
    scanState.readmeScanRunning = false;
}

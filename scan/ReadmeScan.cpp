// The README scan thread: the start of each repository's README in "Read Me".
#include "scan/ReadmeScan.h"

#include "scan/DirectoryList.h"
#include "scan/ReadmeFile.h"

namespace {

// Bytes of a README shown at most, as the check box's label says.
constexpr size_t previewLimit = 256;

}  // namespace

void readmePreviews(const std::vector<std::string>& repositories, const std::atomic<bool>& stop, ScanSink& sink) {
    sink.text(Pane::logs, "ReadMe Scan Beginning ...\n");

    for (const std::string& repository : repositories) {
        if (stop)
            break;
        sink.text(Pane::readme, repository + "\n\n");
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
            sink.text(Pane::readme, text.c_str() + std::string("\n"));  // up to a zero byte
        }
        sink.text(Pane::readme, separatorLine);
    }

    sink.text(Pane::readme, std::string("ReadMe Scan Finished !!!\n") + separatorLine);
    sink.text(Pane::logs, "ReadMe Scan Finished !!!\n");
}

#include "app/Panes.h"

std::atomic<void (*)()> paneTextArrived{nullptr};

LogPane logsPane, reposPane, updatesPane, statusPane, compactPane, remotesPane, readmePane;

const PaneTab paneTabs[paneCount] = {
    {paneNames[int(Pane::logs)], "Logs", &logsPane},
    {paneNames[int(Pane::repositories)], "Repos", &reposPane},
    {paneNames[int(Pane::updates)], "Updates", &updatesPane},
    {paneNames[int(Pane::status)], "Status", &statusPane},
    {paneNames[int(Pane::compacts)], "Compacts", &compactPane},
    {paneNames[int(Pane::remotes)], "Remotes", &remotesPane},
    {paneNames[int(Pane::readme)], "ReadMe", &readmePane},
};

#include "app/Panes.h"

LogPane logsPane, reposPane, updatesPane, statusPane, compactPane, remotesPane, readmePane;

const PaneTab paneTabs[paneCount] = {
    {"Logs", "Logs", &logsPane},
    {"Repositories", "Repos", &reposPane},
    {"Updates", "Updates", &updatesPane},
    {"Status", "Status", &statusPane},
    {"Compacts", "Compacts", &compactPane},
    {"Remotes", "Remotes", &remotesPane},
    {"Read Me", "ReadMe", &readmePane},
};

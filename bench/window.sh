# Sourced by the benches that start the repodeck window under a virtual X
# server: the window's title counts while a scan runs ("repodeck | 5 of 12")
# and is "repodeck" alone once the scan is over.

windowTitle() { xwininfo -root -tree | awk '/"repodeck/ { print; exit }'; }

# Returns once the title has counted a scan and no longer does.
waitForScanEnd() {
    counted=""
    while :; do
        case $(windowTitle) in *' of '*) counted=1 ;; *'"repodeck":'*) [ -n "$counted" ] && return ;; esac
        sleep 0.05
    done
}

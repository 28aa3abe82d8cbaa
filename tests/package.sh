#!/bin/sh
# The packages as users get them. The .deb: Debian's own checks (lintian with
# no error or warning, desktop-file-validate, appstreamcli), installed with
# dpkg, its programs run from /usr/bin on the farm of tests/farm.sh, its
# manual pages and completion found where man and bash look, then removed.
# The zip: its list, then both programs run under wine from its folder.
#   package.sh LINUX_BUILD WINDOWS_BUILD   (after make package)
set -eu

fail() { echo "package.sh: $*" >&2; exit 1; }

here=$(cd "$(dirname "$0")/.." && pwd)
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
version=$("$linux/repodeck-scan" --version | cut -d' ' -f2)
deb="$linux/repodeck_${version}_amd64.deb"
zip="$windows/repodeck-$version-windows-x64.zip"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
work=$(mktemp -d)
installed=""
trap 'if [ -n "$installed" ]; then $sudo dpkg -r repodeck >/dev/null; fi; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

echo "lintian $deb"
lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian found errors or warnings"

# One check at a time on this machine: dpkg takes no second client.
exec 9>"${TMPDIR:-/tmp}/repodeck-package.lock"
flock 9
if dpkg-query -W -f='${Status}' repodeck 2>/dev/null | grep -q ' installed$'; then
    echo "package.sh: a repodeck package is installed on this machine; left alone (dpkg -r repodeck to check)"
else
    echo "dpkg -i $deb"
    $sudo dpkg -i "$deb" >/dev/null
    installed=yes
    [ "$(/usr/bin/repodeck-scan --version)" = "repodeck-scan $version" ] || fail "repodeck-scan --version"
    [ "$(/usr/bin/repodeck --version)" = "repodeck $version" ] || fail "repodeck --version"
    desktop-file-validate /usr/share/applications/repodeck.desktop
    # The id names no domain, which costs this warning (see the README).
    appstreamcli validate --no-net --override=cid-desktopapp-is-not-rdns=info /usr/share/metainfo/repodeck.metainfo.xml >/dev/null ||
        appstreamcli validate --no-net --explain /usr/share/metainfo/repodeck.metainfo.xml || fail "appstreamcli"
    man -w repodeck repodeck-scan >/dev/null || fail "no manual page"

    # The farm, with git under a configuration of its own; badremote's fetch fails.
    printf '[user]\n\tname = repodeck tests\n\temail = tests@localhost\n[init]\n\tdefaultBranch = main\n' >"$work/gitconfig"
    mkdir "$work/farm"
    status=0
    GIT_CONFIG_GLOBAL="$work/gitconfig" GIT_CONFIG_NOSYSTEM=1 sh -c "sh '$here/tests/farm.sh' '$work/farm' &&
        exec /usr/bin/repodeck-scan --status --exit-code --jobs 0 --pane Summary '$work/farm'" >"$work/summary" 2>&1 ||
        status=$?
    [ "$status" -eq 4 ] || fail "scan of the farm: exit status $status, expected 4: $(cat "$work/summary")"
    grep -q "^\* $work/farm/badremote .*failed (128)" "$work/summary" || fail "scan of the farm: $(cat "$work/summary")"
    echo "/usr/bin/repodeck-scan: $(grep -c '^\*' "$work/summary") repositories of the farm need attention, exit status 4"

    # What bash offers after "repodeck-scan --pane re".
    offered=$(bash -c '. /usr/share/bash-completion/bash_completion
        COMP_WORDS=(repodeck-scan --pane re) COMP_CWORD=2 COMP_LINE="repodeck-scan --pane re" COMP_POINT=23
        __load_completion repodeck-scan && complete -p repodeck-scan >/dev/null &&
        { _repodeck_scan repodeck-scan re --pane; echo "${COMPREPLY[*]}"; }') || true
    [ "$offered" = 'Repositories Remotes Read\ Me' ] || fail "bash completion after --pane re: $offered"
fi
flock -u 9

echo "unzip -l $zip"
unzip -l "$zip" >"$work/list"
cat "$work/list"
for name in repodeck.exe repodeck-scan.exe README.md docs/screenshot.png copyright.txt; do
    grep -q " repodeck-$version-windows-x64/$name\$" "$work/list" || fail "$name is not in the zip"
done
unzip -q "$zip" -d "$work"
folder="$work/repodeck-$version-windows-x64"
for program in repodeck repodeck-scan; do
    said=$("$here/tests/wine/run" "$windows" "$folder/$program.exe" --version | tr -d '\r')
    [ "$said" = "$program $version" ] || fail "$program.exe --version under wine: $said"
    echo "$program.exe under wine: $said"
done

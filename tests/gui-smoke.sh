#!/bin/sh
# The real repodeck window. Without a display, or without OpenGL 3, it ends at
# once with exit code 1 and one line on standard error. Watching a folder, it
# shows a checkout there with no input. Started on a folder
# whose stand-in git fetch sleeps, it shows a window whose title counts the
# repository, with a picture in it (not a single colour); SIGTERM, SIGHUP,
# SIGINT and SIGQUIT each end it with exit code 0, no git left and its layout kept in
# $XDG_CONFIG_HOME/repodeck/imgui.ini, never in the current folder.
#   gui-smoke.sh XVFB-RUN REPODECK SCREENSHOT
set -eu
fail() { echo "gui-smoke: $*" >&2; exit 1; }

# A screen larger than the window: without a window manager it keeps its first
# size and place. -noreset keeps the server up between the runs; the search for
# a free display starts at a number of this run's own, so parallel runs seldom
# race for one.
[ "$1" = --inside ] ||
    exec "$1" -a -n $(($$ % 500 + 100)) -s "-noreset -screen 0 1600x1000x24" sh "$0" --inside "$2" "$3"
repodeck=$2 screenshot=$3
work=$(mktemp -d)
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"  # where imgui.ini must not be written

# Exit code 1, one line "repodeck: ..." on standard error, nothing on standard output.
startFails() {
    status=0
    "$@" "$repodeck" </dev/null >out 2>err || status=$?
    [ "$status" -eq 1 ] && [ "$(wc -l <err)" -eq 1 ] && grep -q '^repodeck: ' err && [ ! -s out ] ||
        fail "$*: exit code $status: $(cat err out)"
    echo "$*: $(cat err)"
}
startFails env -u DISPLAY -u WAYLAND_DISPLAY
startFails env MESA_GL_VERSION_OVERRIDE=2.1 timeout 20  # Mesa, which serves Xvfb, offers OpenGL 2.1 only

# A stand-in git on the search path. In tree/, its fetch records its process
# id, then sleeps; its status names the branch in HEAD, and counts its runs.
mkdir -p bin tree/one/.git watched/one/.git
cat >bin/git <<EOF
#!/bin/sh
case \$1 in
  fetch) case \$GIT_DIR in */tree/*) echo \$\$ >"$work/git.pid"; exec sleep 300 ;; esac ;;
  status) echo >>"$work/status.runs"
    printf '# branch.oid (initial)\\n# branch.head %s\\n' "\$(sed 's,ref: refs/heads/,,' "\$GIT_DIR/HEAD")" ;;
  *) echo "git version 2" ;;
esac
EOF
chmod +x bin/git
# Each wait gives up after about 20 seconds, and each X client after 10, so a
# broken build fails instead of hanging.
title() { timeout 10 xprop -id "$window" WM_NAME; }
runs() { cat status.runs 2>/dev/null | wc -l; }
differ() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" != 0 ]; }

# Watched, a checkout (HEAD written through a lock file, as git does) changes
# the row with no input: the picture, steady before, changes within 10 s.
echo 'ref: refs/heads/first' >watched/one/.git/HEAD
PATH="$work/bin:$PATH" XDG_CONFIG_HOME="$work/config" "$repodeck" "$work/watched" >log 2>&1 &
pid=$! window=""
for _ in $(seq 200); do
    window=$(timeout 10 xwininfo -root -tree | awk '/"repodeck/ { print $1; exit }')
    [ -n "$window" ] && [ "$(runs)" -ge 1 ] && case $(title) in *'= "repodeck"') break ;; esac
    sleep 0.1
done
for shot in before steady; do sleep 0.5; timeout 10 import -window "$window" $shot.png; done
idle=$(runs)
echo 'ref: refs/heads/second' >watched/one/.git/HEAD.lock && mv watched/one/.git/HEAD.lock watched/one/.git/HEAD
for _ in $(seq 40); do
    sleep 0.25
    timeout 10 import -window "$window" after.png && differ before.png after.png && break
done
kill "$pid" && wait "$pid" || true
pid=""
! differ before.png steady.png && differ before.png after.png ||
    fail "watch: $idle status runs, then $(runs); the picture changed: $(differ before.png steady.png && echo while idle) $(differ before.png after.png && echo after the checkout)"
echo "watch: a checkout changed the row with no input"

for signal in TERM HUP INT QUIT; do
    rm -f git.pid
    PATH="$work/bin:$PATH" XDG_CONFIG_HOME="$work/config" "$repodeck" "$work/tree" >log 2>&1 &
    pid=$! title="" colours=0
    for _ in $(seq 200); do
        kill -0 "$pid" 2>/dev/null || fail "SIG$signal: repodeck ended: $(cat log)"
        window=$(timeout 10 xwininfo -root -tree | awk '/"repodeck/ { print $1; exit }')
        [ -z "$window" ] || title=$(timeout 10 xprop -id "$window" WM_NAME)
        case $title in *'"repodeck '?' 1 of 1"') [ -s git.pid ] && break ;; esac
        sleep 0.1
    done
    case $title in *'"repodeck '?' 1 of 1"') ;; *) fail "SIG$signal: no window counts its repository: $title" ;; esac
    for _ in $(seq 200); do
        timeout 10 import -window "$window" shot.png 2>/dev/null && colours=$(identify -format %k shot.png) &&
            [ "$colours" -gt 1 ] && break
        sleep 0.1
    done
    [ "$colours" -gt 1 ] || fail "SIG$signal: the window shows a single colour"
    cp shot.png "$screenshot"
    kill -"$signal" "$pid"
    status=0
    wait "$pid" || status=$?
    pid=""
    [ "$status" -eq 0 ] || fail "SIG$signal: exit code $status: $(cat log)"
    ! kill -0 "$(cat git.pid)" 2>/dev/null || fail "SIG$signal: git still runs"
    echo "SIG$signal during a scan ($title, $colours colours): exit code 0, no git left"
done
[ -f config/repodeck/imgui.ini ] && [ ! -e imgui.ini ] || fail "imgui.ini is not in \$XDG_CONFIG_HOME/repodeck: $(ls -R)"

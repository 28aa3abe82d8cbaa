#!/bin/sh
# The real repodeck window. Without a display, or without OpenGL 3, it ends at
# once with exit code 1 and one line on standard error. Otherwise it shows a window
# titled "repodeck" with a picture in it (not a single colour), and SIGTERM ends
# it with exit code 0 (the close box is HostGlfwTest's). Started on a folder
# whose stand-in git fetch sleeps, it counts the repository in its title, and
# SIGTERM, SIGHUP, SIGINT or SIGQUIT end it with exit code 0 and no git left.
#   gui-smoke.sh XVFB-RUN REPODECK SCREENSHOT
set -eu

fail() {
    echo "gui-smoke: $*" >&2
    exit 1
}

if [ "$1" != --inside ]; then
    xvfb_run=$1 repodeck=$2
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY "$repodeck" </dev/null >"$work/out" 2>"$work/err" || status=$?
    [ "$status" -eq 1 ] || fail "without a display: exit code $status, expected 1"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "without a display: not one line on standard error: $(cat "$work/err")"
    grep -q '^repodeck: ' "$work/err" || fail "without a display: $(cat "$work/err")"
    [ ! -s "$work/out" ] || fail "without a display: wrote to standard output"
    echo "without a display: $(cat "$work/err")"

    shift 2
    # A screen larger than the window: without a window manager it keeps its
    # first size and place. -noreset keeps the server up between the runs
    # below, which could otherwise meet it resetting. The search for a free
    # display starts at a number of this run's own, so parallel runs seldom
    # race for the same one.
    exec "$xvfb_run" -a -n $(($$ % 500 + 100)) -s "-noreset -screen 0 1600x1000x24" sh "$0" --inside "$repodeck" "$@"
fi

repodeck=$2 screenshot=$3
work=$(mktemp -d)
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"  # imgui.ini is written to the current folder

# No OpenGL 3: Mesa, which serves Xvfb, is told to offer 2.1 only.
status=0
MESA_GL_VERSION_OVERRIDE=2.1 timeout 20 "$repodeck" </dev/null >out 2>err || status=$?
[ "$status" -eq 1 ] || fail "without OpenGL 3: exit code $status, expected 1"
[ "$(wc -l <err)" -eq 1 ] && grep -q '^repodeck: ' err || fail "without OpenGL 3: $(cat err)"
echo "without OpenGL 3: $(cat err)"

"$repodeck" >log 2>&1 &
pid=$!

# Each wait below gives up after about 20 seconds, and each X client after 10,
# so a broken build fails instead of hanging.
window=""
for _ in $(seq 200); do
    kill -0 "$pid" 2>/dev/null || fail "repodeck ended before showing a window: $(cat log)"
    window=$(timeout 10 xwininfo -root -tree | awk '$2 == "\"repodeck\":" { print $1; exit }')
    [ -z "$window" ] || break
    sleep 0.1
done
[ -n "$window" ] || fail "no window titled repodeck appeared"
timeout 10 xprop -id "$window" WM_NAME | grep -qx 'WM_NAME(.*) = "repodeck"' || fail "title: $(xprop -id "$window" WM_NAME)"
echo "window $window: $(xprop -id "$window" WM_NAME)"

colours=0
for _ in $(seq 200); do
    kill -0 "$pid" 2>/dev/null || fail "repodeck ended while showing its window: $(cat log)"
    if timeout 10 import -window "$window" shot.png 2>/dev/null; then
        colours=$(identify -format %k shot.png)
        [ "$colours" -le 1 ] || break
    fi
    sleep 0.1
done
[ "$colours" -gt 1 ] || fail "the window shows a single colour"
cp shot.png "$screenshot"
echo "screenshot: $colours colours, saved to $screenshot"

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "exit code $status after SIGTERM: $(cat log)"
echo "SIGTERM: exit code 0"

# A stand-in git on the search path whose fetch records its process id, then sleeps.
mkdir -p bin tree/one/.git
printf '#!/bin/sh\n[ "$1" = fetch ] || { echo "git version 2"; exit 0; }\necho $$ >"%s/git.pid"\nexec sleep 300\n' \
    "$work" >bin/git
chmod +x bin/git
for signal in TERM HUP INT QUIT; do
    rm -f git.pid
    PATH="$work/bin:$PATH" "$repodeck" "$work/tree" >log 2>&1 &
    pid=$!
    for _ in $(seq 200); do [ -s git.pid ] && break; sleep 0.1; done
    [ -s git.pid ] || fail "SIG$signal: the scan did not start git: $(cat log)"
    window=$(timeout 10 xwininfo -root -tree | awk '/"repodeck/ { print $1; exit }')
    title=""
    for _ in $(seq 200); do
        title=$(timeout 10 xprop -id "$window" WM_NAME)
        case $title in *' 1 of 1"') break ;; esac
        sleep 0.1
    done
    case $title in *' 1 of 1"') ;; *) fail "SIG$signal: the title does not count the repository: $title" ;; esac
    kill -"$signal" "$pid"
    status=0
    wait "$pid" || status=$?
    pid=""
    [ "$status" -eq 0 ] || fail "SIG$signal: exit code $status: $(cat log)"
    kill -0 "$(cat git.pid)" 2>/dev/null && fail "SIG$signal: git still runs"
    echo "SIG$signal during a scan ($title): exit code 0, no git left"
done

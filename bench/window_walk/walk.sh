#!/usr/bin/env bash
# Walks kav through open, clicks, undo, listing, reopen, fit, zoom, pan, 1:1,
# save and quit on a
# private Xvfb while xping times every GUI-thread stall.
#
#   walk.sh POINTS_FILE [OUT_DIR]
#
# KAV=path/to/kav (default build/release/kav, from `make bench-build` and
# `cmake --build build/release --target kav`), GDB_AFTER_MS=n attaches gdb to a
# stall longer than n ms (the stall then lasts longer than it would),
# PERF=1 runs kav under perf record with monotonic timestamps, SHOTS=0
# takes no screenshots.
set -u

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
points=${1:?points file}
out=${2:-$(mktemp -d /tmp/kav_walk.XXXXXX)}
kav=${KAV:-$repo/build/release/kav}
mkdir -p "$out"
out=$(cd "$out" && pwd)
log=$out/walk.log
: >"$log"

xping=$out/xping
g++ -O2 -std=c++20 -o "$xping" "$here/xping.cpp" -lX11 || exit 1

say() { printf '%s %s\n' "$(date +%T.%3N)" "$*" | tee -a "$log"; }

tmp=$(mktemp -d /tmp/kav_walk_home.XXXXXX)
mkdir -p "$tmp/config" "$tmp/state"

Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp >"$tmp/display" 2>"$out/xvfb.err" &
xvfb=$!
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -1 "$tmp/display")
export XDG_CONFIG_HOME=$tmp/config XDG_STATE_HOME=$tmp/state
say "load $(cat /proc/loadavg) display $DISPLAY points $points"

cd "$tmp"
if [ "${PERF:-0}" = 1 ]; then
    perf record --call-graph dwarf,8192 -k CLOCK_MONOTONIC -F 499 -o "$out/perf.data" -- "$kav" >"$out/kav.log" 2>&1 &
    runner=$!
    for _ in $(seq 100); do kpid=$(pgrep -P $runner -x kav) && break; sleep 0.05; done
else
    "$kav" >"$out/kav.log" 2>&1 &
    kpid=$!
    runner=$kpid
fi

cleanup() {
    kill "$kpid" 2>/dev/null
    [ -n "${ppid:-}" ] && kill -INT "$ppid" 2>/dev/null
    wait "$runner" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

# Qt leaves WM_NAME empty on an untitled dialog, so match _NET_WM_NAME exactly.
dialogs() { xdotool search --onlyvisible --class kav 2>/dev/null | grep -vx "${main:-0}"; }
title() { xprop -id "$1" -notype _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME = "\(.*\)"$/\1/p'; }
visible() {
    local w
    for w in $(dialogs); do
        [ "$(title "$w")" = "$1" ] && { echo "$w"; return 0; }
    done
    return 1
}
# Waits until a window titled $1 is shown; prints its id.
wait_shown() {
    local end=$((SECONDS + ${2:-10})) w
    while [ $SECONDS -lt $end ]; do
        w=$(visible "$1") && { echo "$w"; return 0; }
        sleep 0.05
    done
    say "!! no window \"$1\" within ${2:-10} s"
    return 1
}
wait_hidden() {
    local end=$((SECONDS + ${2:-10}))
    while [ $SECONDS -lt $end ]; do
        visible "$1" >/dev/null || return 0
        sleep 0.2
    done
    say "!! window \"$1\" still shown after ${2:-10} s"
    return 1
}
# A screenshot holds the X server for tens of ms; the notes show when.
shot() {
    [ "${SHOTS:-1}" = 1 ] || return 0
    echo "+shot $1" >&3
    /usr/bin/import -window root "$out/$1.png"
    echo "+shot $1 done" >&3
}
note() { echo "+$*" >&3; }
key() {
    note "key $*"
    xdotool key "$@"
}
rss() { awk '/VmRSS|VmHWM/ {printf "%s %d MB  ", $1, $2/1024}' "/proc/$kpid/status" 2>/dev/null; }
mark() {
    echo "$1" >&3
    say "== $1  $(rss)"
}
# Without a window manager a closed dialog leaves no focus behind.
focus_main() { xdotool windowfocus --sync "$main" 2>/dev/null || xdotool windowfocus "$main"; }
# The progress dialog may not show for a quick job; then there is nothing to wait for.
wait_progress() {
    local caption=$1 limit=$2 w
    local end=$((SECONDS + 3))
    while [ $SECONDS -lt $end ]; do
        if w=$(visible "$caption"); then
            say "progress \"$caption\" shown"
            sleep 0.5
            shot "$3"
            wait_hidden "$caption" "$limit"
            say "progress \"$caption\" gone"
            return 0
        fi
        sleep 0.05
    done
    say "no progress \"$caption\" within 3 s"
}
answer_unexpected() {
    local w
    for q in 'Połączyć?' 'Usunąć?'; do
        if w=$(visible "$q"); then
            say "!! unexpected question \"$q\", answering Nie"
            shot "unexpected_$(date +%s%N)"
            xdotool windowfocus "$w"
            key n
            sleep 0.2
        fi
    done
}

for _ in $(seq 400); do
    main=$(xdotool search --onlyvisible --name '^KAV Edytor$' 2>/dev/null | head -1) && [ -n "$main" ] && break
    sleep 0.05
done
[ -n "$main" ] || { say "!! no main window"; exit 1; }
xdotool windowsize --sync "$main" 1500 1150 2>/dev/null || xdotool windowsize "$main" 1500 1150
mkfifo "$tmp/marks"
"$xping" -w "$main" -p "$kpid" ${GDB_AFTER_MS:+-g "$GDB_AFTER_MS" -G "$out"} <"$tmp/marks" >"$out/ping.log" 2>&1 &
ppid=$!
exec 3>"$tmp/marks"
sleep 1

mark idle
sleep 2

mark open-dialog
focus_main
key ctrl+o
dlg=$(wait_shown Otwórz) || exit 1
shot open_dialog
mark load
xdotool type --delay 3 "$points"
key Return
wait_progress Wczytywanie 300 loading

mark clicks-after-load
sleep 0.3
# Spots far from the figure and from each other's segments, so none is a hit.
for p in "20 40" "1450 60" "1450 1100" "30 1100" "900 700" "1200 400" "1100 1000" "60 700"; do
    note "click $p"
    xdotool mousemove $p click 1
    sleep 0.2
done
shot clicks
mark after-clicks
sleep 3
answer_unexpected
shot after_clicks

mark undo
focus_main
for _ in 1 2 3 4; do
    key ctrl+z
    sleep 0.5
done
shot undo
# The readouts follow the pointer; a move shows whether they caught up.
xdotool mousemove 700 1120
sleep 0.5
shot undo_moved

mark listing
xdotool mousemove 100 8 click 1
wait_shown Współrzędne 30 >/dev/null
sleep 2
shot listing
mark listing-close
key Escape
wait_hidden Współrzędne 10
sleep 1

mark reopen-dialog
focus_main
key ctrl+o
wait_shown Otwórz >/dev/null || exit 1
xdotool type --delay 3 "$points"
key Return
q=$(wait_shown 'Usunąć?' 10) && shot replace_question
mark reload-yes
key t
wait_progress Wczytywanie 300 reloading
sleep 2
answer_unexpected
shot reloaded
xdotool mousemove 710 1120
sleep 0.5
shot reloaded_moved

# Fit, four notches in around the mouse, a pan by the wheel, and back to 1:1.
mark fit
focus_main
key f
sleep 3
shot fitted
for n in 1 2 3 4; do
    mark zoom-in-$n
    key ctrl+plus
    sleep 2
done
shot zoomed
mark pan
for _ in 1 2 3 4; do
    note "wheel down"
    xdotool click 5
    sleep 0.5
done
sleep 2
mark actual-size
key ctrl+0
sleep 3
shot actual_size

mark save-format
focus_main
key ctrl+s
wait_shown kav 10 >/dev/null
sleep 0.3
shot save_format
key Return
mark save-dialog
wait_shown 'Zachowaj jako' 10 >/dev/null || exit 1
xdotool type --delay 3 "$tmp/saved.txt"
mark save
key Return
wait_progress Zapisywanie 300 saving
sleep 1
say "saved $(stat -c %s "$tmp/saved.txt" 2>/dev/null) bytes, loaded $(stat -c %s "$points") bytes"
shot saved

say "state folder $(du -sh "$XDG_STATE_HOME" | cut -f1): $(find "$XDG_STATE_HOME" -type f -printf '%f %s; ')"
mark quit
focus_main
key alt+p
sleep 0.3
shot quit_menu
key w
for _ in $(seq 600); do kill -0 "$kpid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$kpid" 2>/dev/null && say "!! kav still running 60 s after Wyjście"
say "kav ended; load $(cat /proc/loadavg)"
exec 3>&-
wait "$ppid"
ppid=
grep -v '^SEC\|still waiting' "$out/ping.log" | tail -n 40
say "results in $out"

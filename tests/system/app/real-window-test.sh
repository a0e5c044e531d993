#!/usr/bin/env bash
# Starts hufpack-gui in a real X server (Xvfb, with openbox as its window manager, so that the
# window becomes active and takes key events) and drives it with real key events from xdotool:
# - Tab to the compression source's Browse, choose a file in the chooser, type a destination,
#   press "Encode!", compare the file written with hufpack's own (the engine's EncodeFile), and
#   end the program with Escape, which must exit with status 0;
# - start it with a compressed file as its argument, as a file manager's "Open with" does, name
#   a destination, press "Decode!" and compare the restored file;
# - start it with a larger file, press "Encode!", and take screenshots of the window while the
#   job is held at two points of its progress by a preloaded library (HOLD-READS): the window is
#   repainted while the job runs (its progress moves), so they differ;
# - start it with 0, 1 and 2 closed, and find /dev/null on all three;
# - before any of that, with no display at all: --help and --version answer and exit 0, and an
#   unknown option exits 2;
# - start it in the C locale with a name that is not UTF-8 and starts with '-', after "--", its
#   standard output a pipe that no one reads: Encode! must read that file, and the "Done." the
#   job prints must not kill the program;
# - as root, on a FUSE mount (bindfs, a file system without unnamed files), hold a job whose file
#   has a name while it is written, and take its display away: the program ends, as Qt ends it
#   (exit(1)), and the file is removed first.
# Every wait is for something to happen, never a guess at how long it takes.
#
#   real-window-test.sh HUFPACK-GUI HUFPACK HOLD-READS
set -euo pipefail
gui=$(realpath "$1") # the program is started from another folder too
cli=$2
hold_reads=$3

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if mountpoint -q "$work/fuse" 2>/dev/null; then
        fusermount -u "$work/fuse" 2>/dev/null || umount "$work/fuse" || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# shellcheck source=x-session.sh
. "$(dirname "$(realpath "$0")")/x-session.sh"

# The options need no display: the program answers them before it would open one.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$gui")
"${no_display[@]}" --help >"$work/help" || fail "--help failed without a display"
grep -q '^Usage: hufpack-gui ' "$work/help" || fail "--help printed no usage"
[[ $("${no_display[@]}" --version) == "hufpack-gui "* ]] || fail "--version printed no version"
status=0
"${no_display[@]}" --frobnicate 2>"$work/complaint" || status=$?
((status == 2)) || fail "an unknown option ended with $status, not 2"
grep -q "unknown option '--frobnicate'" "$work/complaint" || fail "the unknown option was not named"
echo "PASS: --help, --version and an unknown option, without a display"

start_x_session

# Waits for the window of the program started as `gui_pid` to be active.
await_window() {
    pids+=("$gui_pid")
    wait_for 600 xdotool search --pid "$gui_pid" --name '^Hufpack$' || fail "the dialog did not open"
    window=$(xdotool search --pid "$gui_pid" --name '^Hufpack$' | head -n 1)
    wait_for 600 sh -c "xdotool windowactivate --sync $window; [ \"\$(xdotool getactivewindow)\" = $window ]" \
        || fail "the dialog did not become active"
}

# Starts the program with `$@`, and the environment `gui_env` besides, and waits for its window
# to be active.
gui_env=()
start_gui() {
    env "${gui_env[@]}" QT_QPA_PLATFORM=xcb "$gui" "$@" >>"$work/gui.log" 2>&1 &
    gui_pid=$!
    await_window
}

head -c 300000 /dev/urandom | base64 >"$work/source.txt"
start_gui

# "&Close" has the focus; seven Tabs reach the compression source's Browse.
xdotool key --delay 50 Tab Tab Tab Tab Tab Tab Tab space
wait_for 600 xdotool search --name '^Open$' || fail "the file chooser did not open"
chooser=$(xdotool search --name '^Open$' | head -n 1)
wait_for 600 sh -c "[ \"\$(xdotool getactivewindow)\" = $chooser ]" \
    || fail "the file chooser did not take the focus"
xdotool type --delay 10 "$work/source.txt"
# Return accepts the chooser (a completion list may take the first Return).
for _ in 1 2 3; do
    xdotool search --name '^Open$' >/dev/null 2>&1 || break
    xdotool key Return
    wait_for 50 sh -c "! xdotool search --name '^Open\$'" || true
done
xdotool search --name '^Open$' >/dev/null 2>&1 && fail "the file chooser did not close"
wait_for 600 sh -c "[ \"\$(xdotool getactivewindow)\" = $window ]" \
    || fail "the dialog did not take the focus back"

# Focus is back on Browse: Tab to the destination, type it, Tab twice to "Encode!".
xdotool key Tab
xdotool type --delay 10 "$work/packed.huf"
xdotool key --delay 50 Tab Tab space
wait_for 600 test -s "$work/packed.huf" || fail "Encode! wrote nothing"

"$cli" encode "$work/source.txt" "$work/expected.huf" >/dev/null
cmp "$work/packed.huf" "$work/expected.huf" || fail "the dialog's file differs from hufpack's"

# Escape ends the program, with status 0.
end_with_escape() {
    xdotool key Escape
    for _ in $(seq 600); do
        kill -0 "$gui_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$gui_pid" 2>/dev/null && fail "Escape did not end the program"
    local status=0
    wait "$gui_pid" || status=$?
    ((status == 0)) || fail "the program ended with status $status"
}
end_with_escape
echo "PASS: chose, typed, encoded and compared in a real window; Escape ended it with 0"

# Opened with a compressed file: it is the Decompress group's source. Three Tabs from "&Close"
# reach that group's destination; two more, "Decode!".
start_gui "$work/expected.huf"
xdotool key --delay 50 Tab Tab Tab
xdotool type --delay 10 "$work/restored.txt"
xdotool key --delay 50 Tab Tab space
wait_for 600 test -s "$work/restored.txt" || fail "Decode! on the opened file wrote nothing"
cmp "$work/restored.txt" "$work/source.txt" || fail "the opened file did not restore the source"
end_with_escape
echo "PASS: opened with a .huf file, decoded it and compared"

# Started without standard input, output and error: /dev/null holds all three numbers, so that
# no file the program opens (its display connection, a job's files) can take one of them.
QT_QPA_PLATFORM=xcb "$gui" <&- >&- 2>&- &
gui_pid=$!
await_window
for fd in 0 1 2; do
    [[ $(readlink "/proc/$gui_pid/fd/$fd") == /dev/null ]] \
        || fail "descriptor $fd is $(readlink "/proc/$gui_pid/fd/$fd"), not /dev/null"
done
end_with_escape
echo "PASS: started with 0, 1 and 2 closed, it holds them with /dev/null"

# Opened, in the C locale, with a file whose name starts with '-' and is not UTF-8 (Latin-1
# "-café.txt"), named after "--" and relative to the program's folder; its standard output a
# pipe whose reader is gone. The job must read that very file, and the "Done." that follows it
# must not end the program by SIGPIPE: Escape, pressed at once and held until the job is done,
# must end it with status 0.
odd_name=$(printf -- '-caf\xe9.txt')
cp "$work/source.txt" "$work/$odd_name"
mkfifo "$work/widowed"
exec 7<>"$work/widowed" # a reader for the moment, so that opening the writer does not block
exec 6>"$work/widowed"
exec 7<&-
(cd "$work" && exec env LC_ALL=C LANG=C QT_QPA_PLATFORM=xcb "$gui" -- "$odd_name") \
    >&6 2>>"$work/gui.log" &
gui_pid=$!
exec 6>&-
await_window
# Eight Tabs reach the Compress group's destination; two more, "Encode!".
xdotool key --delay 50 Tab Tab Tab Tab Tab Tab Tab Tab
xdotool type --delay 10 "$work/odd.huf"
xdotool key --delay 50 Tab Tab space
end_with_escape
[[ -s $work/odd.huf ]] || fail "Encode! on the file named after -- wrote nothing"
cmp "$work/odd.huf" "$work/expected.huf" || fail "the file named after -- was not the one encoded"
echo "PASS: a name after --, not UTF-8, in the C locale, encoded with a broken standard output"

# A job held by the preloaded library at the 8th and the 40th of its reads of the source, each
# until the test writes a line into the FIFO: at each stop the library makes hold.1, hold.2.
head -c $((8 << 20)) /dev/urandom | base64 >"$work/large.txt"
mkfifo "$work/hold"
# A sanitizer's runtime wants to be first among the libraries; the preloaded one only counts.
gui_env=("LD_PRELOAD=$hold_reads" "HUFPACK_HOLD_READS_OF=$work/large.txt"
    "HUFPACK_HOLD_READS_AT=8,40" "HUFPACK_HOLD_FIFO=$work/hold"
    "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
start_gui "$work/large.txt"
# Eight Tabs reach the Compress group's destination; two more, "Encode!".
xdotool key --delay 50 Tab Tab Tab Tab Tab Tab Tab Tab
xdotool type --delay 10 "$work/large.huf"
xdotool key --delay 50 Tab Tab space
shot() { xwd -silent -id "$window" >"$work/$1" || fail "xwd could not take the window"; }
wait_for 600 test -e "$work/hold.1" || fail "the job did not reach its first stop"
shot first
echo >"$work/hold"
wait_for 600 test -e "$work/hold.2" || fail "the job did not reach its second stop"
# The window is repainted while the job is held: its progress moved on since the first stop.
wait_for 600 sh -c "xwd -silent -id $window >'$work/second' && ! cmp -s '$work/first' '$work/second'" \
    || fail "the window was not repainted during the job"
[[ ! -e $work/large.huf ]] || fail "the job ended while it was held"
echo >"$work/hold"
wait_for 600 test -s "$work/large.huf" || fail "Encode! on the large file wrote nothing"
"$cli" encode "$work/large.txt" "$work/large-expected.huf" >/dev/null
cmp "$work/large.huf" "$work/large-expected.huf" || fail "the held job's file differs from hufpack's"
end_with_escape
echo "PASS: during a job held at two points the window was repainted, and the file is right"

# The display goes away (a logout, a crashed X server, a dropped ssh -X) while a job writes its
# file under a name, on a file system without unnamed files: Qt ends the program with exit(1),
# and the job's file is removed on the way.
if [[ $(id -u) -ne 0 ]] || ! command -v bindfs >/dev/null || [[ ! -e /dev/fuse ]]; then
    echo "SKIP: the display going away mid-job needs root, bindfs and /dev/fuse"
    exit 0
fi
mkdir "$work/under" "$work/fuse"
bindfs "$work/under" "$work/fuse" || fail "bindfs could not mount"
cp "$work/large.txt" "$work/fuse/large.txt"
rm -f "$work"/hold.*
exec 4>"$work/display2"
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb2=$!
pids+=("$xvfb2")
wait_for 100 test -s "$work/display2" || fail "the second Xvfb did not start"
gui_env=("LD_PRELOAD=$hold_reads" "HUFPACK_HOLD_READS_OF=$work/fuse/large.txt"
    "HUFPACK_HOLD_READS_AT=8" "HUFPACK_HOLD_FIFO=$work/hold"
    "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0"
    "DISPLAY=:$(head -n 1 "$work/display2")")
env "${gui_env[@]}" QT_QPA_PLATFORM=xcb "$gui" "$work/fuse/large.txt" >>"$work/gui.log" 2>&1 &
gui_pid=$!
pids+=("$gui_pid")
DISPLAY=:$(head -n 1 "$work/display2") wait_for 600 xdotool search --pid "$gui_pid" --name '^Hufpack$'     || fail "the dialog did not open on the second display"
# No window manager there: the dialog takes the keys once it has the focus.
DISPLAY=:$(head -n 1 "$work/display2") sh -c "
    window=\$(xdotool search --pid $gui_pid --name '^Hufpack\$' | head -n 1)
    xdotool windowfocus --sync \$window
    xdotool key --delay 50 Tab Tab Tab Tab Tab Tab Tab Tab
    xdotool type --delay 10 '$work/fuse/large.huf'
    xdotool key --delay 50 Tab Tab space"
wait_for 600 test -e "$work/hold.1" || fail "the job on the FUSE mount did not reach its stop"
[[ -n $(find "$work/under" -name '.large.huf.hufpack-*') ]] \
    || fail "the job's file has no name on the FUSE mount, so this tests nothing"
{ kill -KILL "$xvfb2" && wait "$xvfb2"; } 2>/dev/null || true
status=0
wait "$gui_pid" || status=$?
((status == 1)) || fail "the program ended with $status when its display went away, not 1"
leftover=$(find "$work/under" -name '.*hufpack-*')
[[ -z $leftover ]] || fail "the job's file was left behind: $leftover"
[[ ! -e $work/fuse/large.huf ]] || fail "a destination was made"
echo "PASS: its display gone mid-job, the program ended and left no temporary file"

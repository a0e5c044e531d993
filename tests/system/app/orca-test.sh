#!/usr/bin/env bash
# The dialog with the real screen reader: Orca, in a D-Bus session and accessibility bus of the
# test's own under Xvfb, with its debug log, which records every "SPEECH OUTPUT" whether or not
# there is a speech synthesizer or a sound card. A user who cannot see the window compresses a
# file from the keyboard and must hear the outcome without moving the focus: "Done!", and for a
# failed job the status text, then the file and the reason.
# Exits 77 (skipped) where Orca or a piece of its stack is not installed.
#
#   orca-test.sh HUFPACK-GUI
set -euo pipefail
gui=$(realpath "$1")

skip() {
    echo "SKIP: $*"
    exit 77
}

command -v orca >/dev/null || skip "no orca"
launcher=""
for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
    [[ -x $candidate ]] && launcher=$candidate && break
done
[[ -n $launcher ]] || skip "no at-spi-bus-launcher (at-spi2-core)"
for tool in dbus-daemon Xvfb openbox xdotool; do
    command -v "$tool" >/dev/null || skip "no $tool"
done
# Orca refuses to start beside another Orca of the same user, and --replace would end that one:
# the screen reader of whoever runs the tests.
if pgrep -u "$(id -u)" -x orca >/dev/null; then
    skip "an Orca of this user is running already"
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

log=$work/orca.log
fail() {
    echo "FAIL: $*" >&2
    if [[ -s $log ]]; then
        echo "  what Orca said:" >&2
        grep -o "SPEECH OUTPUT: .*" "$log" | tr -d '\r' | sed 's/^/    /' >&2
    fi
    [[ -s $work/gui.log ]] && sed 's/^/  gui: /' "$work/gui.log" >&2
    exit 1
}

# shellcheck source=x-session.sh
. "$(dirname "$(realpath "$0")")/x-session.sh"

start_x_session

# Everything of the session in the scratch folder: its buses, Orca's settings (its defaults, in
# English), and no settings daemon.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_RUNTIME_DIR=$work/runtime LC_ALL=C.UTF-8 GSETTINGS_BACKEND=memory
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 \
    3>"$work/bus.address" 4>"$work/bus.pid"
pids+=("$(cat "$work/bus.pid")")
DBUS_SESSION_BUS_ADDRESS=$(cat "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS
"$launcher" --launch-immediately >>"$work/bus.log" 2>&1 &
pids+=($!)

# Orca writes its log as Python writes a file, in blocks, and what it said last could wait for
# the next block until it speaks again; written to a terminal, each line goes out as it comes.
script --quiet --flush --command "orca --debug-file=/dev/stdout" "$log" \
    </dev/null >"$work/orca.out" 2>&1 &
pids+=($!)
# Waits until Orca has said a line for which `grep -F` finds $2, at or after line $1 of its log;
# prints the number of the line.
await_speech() {
    wait_for 600 spoken_at "$@" || return 1
    spoken_at "$@"
}
spoken_at() {
    awk -v from="$1" -v text="$2" \
        'NR >= from && /SPEECH OUTPUT: / && index($0, text) { print NR; found = 1; exit }
         END { exit !found }' "$log"
}
await_speech 1 "Screen reader on" >/dev/null || fail "Orca did not start"

head -c 100000 /dev/urandom | base64 >"$work/notes.txt"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$gui" "$work/notes.txt" \
    >"$work/gui.log" 2>&1 &
gui_pid=$!
pids+=("$gui_pid")
wait_for 600 xdotool search --pid "$gui_pid" --name '^Hufpack$' || fail "the dialog did not open"
window=$(xdotool search --pid "$gui_pid" --name '^Hufpack$' | head -n 1)
wait_for 600 sh -c "xdotool windowactivate --sync $window; [ \"\$(xdotool getactivewindow)\" = $window ]" \
    || fail "the dialog did not become active"
# Orca follows the window: it reads the control that has the focus, "&Close".
await_speech 1 "Close push button" >/dev/null || fail "Orca did not read the dialog's focus"

keys() { xdotool key --delay 50 "$@"; }
# Types a destination into "Compress destination", which has the focus (its text selected),
# presses "Encode!" from the keyboard, and waits until Orca has said each of the texts given,
# in that order, with the focus still on "Encode!".
encode_to() {
    local destination=$1
    shift
    local start since text at
    since=$(($(wc -l <"$log") + 1))
    xdotool type --delay 20 "$destination"
    keys Tab Tab
    # Orca has caught up once it reads the button; from there on, what it says is the job's.
    at=$(await_speech "$since" "Encode! push button") || fail "Orca did not read Encode!"
    start=$((at + 1))
    keys space
    since=$start
    for text in "$@"; do
        at=$(await_speech "$since" "$text") || fail "Orca did not say '$text' after Encode!"
        since=$((at + 1))
    done
    # What Orca follows after it spoke is still the button: the focus did not move.
    focus_told() { tail -n "+$since" "$log" | grep -q "locusOfFocus:"; }
    wait_for 600 focus_told || fail "Orca told nothing of its focus after speaking"
    tail -n "+$since" "$log" | grep -m 1 "locusOfFocus:" | grep -qF "[push button | Encode!]" \
        || fail "the focus moved: $(tail -n "+$since" "$log" | grep -m 1 "locusOfFocus:")"
    echo "Orca's log after Encode!:"
    sed -n "${start},$((since - 1))p" "$log" | grep "SPEECH OUTPUT: " | tr -d '\r' | sed 's/^/  /'
}

# From "&Close", Tab goes through the "Decompress" group and the "Compress" source and its
# "Browse" to the "Compress" destination; two more Tabs reach "Encode!".
keys Tab Tab Tab Tab Tab Tab Tab Tab
encode_to "$work/notes.huf" "Done!"
[[ -s $work/notes.huf ]] || fail "Encode! wrote nothing"
echo "PASS: Orca says the outcome, Done!, where the focus is"

# Back to the destination, whose text Tab selects, and a folder that does not exist.
keys shift+Tab shift+Tab
encode_to "$work/nowhere/notes.huf" \
    "The source file cannot be opened / destination file cannot be written" \
    "$work/nowhere/notes.huf: No such file or directory"
echo "PASS: Orca says a failed job's status, then its file and reason, where the focus is"

#!/usr/bin/env bash
# Starts hufpack-gui in a real X server (Xvfb, with openbox as its window manager, so that the
# window becomes active and takes key events) and drives it with real key events from xdotool:
# - Tab to the compression source's Browse, choose a file in the chooser, type a destination,
#   press "Encode!", compare the file written with hufpack's own (the engine's EncodeFile), and
#   end the program with Escape, which must exit with status 0;
# - start it with a compressed file as its argument, as a file manager's "Open with" does, name
#   a destination, press "Decode!" and compare the restored file;
# - start it with a large file, press "Encode!", and take screenshots of the window while the job
#   runs: the window is repainted (its progress moves), so they differ.
#
#   real-window-test.sh HUFPACK-GUI HUFPACK
set -euo pipefail
gui=$1
cli=$2

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Wait up to $1 tenths of a second for a command to succeed.
wait_for() {
    local tries=$1
    shift
    while ((tries-- > 0)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
wait_for 100 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# Starts the program with `$@` and waits for its window to be active.
start_gui() {
    QT_QPA_PLATFORM=xcb "$gui" "$@" >>"$work/gui.log" 2>&1 &
    gui_pid=$!
    pids+=("$gui_pid")
    wait_for 100 xdotool search --pid "$gui_pid" --name '^Hufpack$' || fail "the dialog did not open"
    window=$(xdotool search --pid "$gui_pid" --name '^Hufpack$' | head -n 1)
    xdotool windowactivate --sync "$window" || true
    sleep 0.5
}

head -c 300000 /dev/urandom | base64 >"$work/source.txt"
start_gui

# "&Close" has the focus; seven Tabs reach the compression source's Browse.
xdotool key --delay 50 Tab Tab Tab Tab Tab Tab Tab space
wait_for 100 xdotool search --name '^Open$' || fail "the file chooser did not open"
sleep 0.5
xdotool type --delay 10 "$work/source.txt"
# Return accepts the chooser (a completion list may take the first one).
for _ in 1 2 3; do
    xdotool search --name '^Open$' >/dev/null 2>&1 || break
    xdotool key Return
    sleep 0.5
done
xdotool search --name '^Open$' >/dev/null 2>&1 && fail "the file chooser did not close"

# Focus is back on Browse: Tab to the destination, type it, Tab twice to "Encode!".
xdotool key Tab
xdotool type --delay 10 "$work/packed.huf"
xdotool key --delay 50 Tab Tab space
wait_for 100 test -s "$work/packed.huf" || fail "Encode! wrote nothing"
sleep 0.5

"$cli" encode "$work/source.txt" "$work/expected.huf" >/dev/null
cmp "$work/packed.huf" "$work/expected.huf" || fail "the dialog's file differs from hufpack's"

# Escape ends the program, with status 0.
end_with_escape() {
    xdotool key Escape
    for _ in $(seq 100); do
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
wait_for 100 test -s "$work/restored.txt" || fail "Decode! on the opened file wrote nothing"
sleep 0.5
cmp "$work/restored.txt" "$work/source.txt" || fail "the opened file did not restore the source"
end_with_escape
echo "PASS: opened with a .huf file, decoded it and compared"

# A job long enough to watch: 940 MB of the letters ACGT, as a genome is written, which at two
# bits a letter is about as much as the format holds; one random block, written again and again.
letters=$(for _ in $(seq 64); do printf ACGT; done)
head -c $((16 << 20)) /dev/urandom | tr '\000-\377' "$letters" >"$work/block"
for _ in $(seq 56); do cat "$work/block"; done >"$work/large.txt"
rm "$work/block"
start_gui "$work/large.txt"
# Eight Tabs reach the Compress group's destination; two more, "Encode!".
xdotool key --delay 50 Tab Tab Tab Tab Tab Tab Tab Tab
xdotool type --delay 10 "$work/large.huf"
xdotool key --delay 50 Tab Tab space
shots=0
changed=0
while [[ ! -e $work/large.huf ]] && ((shots < 400)); do
    xwd -silent -id "$window" >"$work/shot.$((shots % 2))" || fail "xwd could not take the window"
    if ((shots > 0)) && ! cmp -s "$work/shot.0" "$work/shot.1"; then
        changed=$((changed + 1))
    fi
    shots=$((shots + 1))
    sleep 0.05
done
wait_for 600 test -s "$work/large.huf" || fail "Encode! on the large file wrote nothing"
((shots >= 2)) || fail "the job ended before the window could be watched"
((changed >= 2)) || fail "the window did not change in $shots screenshots during the job"
end_with_escape
echo "PASS: during a long job the window was repainted ($changed changes in $shots screenshots)"

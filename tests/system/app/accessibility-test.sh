#!/usr/bin/env bash
# Starts hufpack-gui as a screen reader's user has it: in a real X server (Xvfb, with openbox as
# its window manager, so that the window becomes active and takes keys), on a D-Bus session with
# the accessibility bus (at-spi-bus-launcher), and checks what at-spi tells of it with pyatspi
# (accessibility-check.py): names, roles, labels and groups, the status bar's events after each
# job and its detail after a failed one, and the system menu from the keyboard.
# Exits 77 (skipped) when a piece of that stack is missing.
#
#   accessibility-test.sh HUFPACK-GUI
set -euo pipefail
gui=$(realpath "$1")
here=$(dirname "$(realpath "$0")")

skip() {
    echo "SKIP: $*"
    exit 77
}

# Debian's own interpreter has pyatspi; another python3 on the PATH may not.
python=/usr/bin/python3
[[ -x $python ]] && "$python" -c 'import pyatspi' 2>/dev/null \
    || skip "no pyatspi for /usr/bin/python3 (python3-pyatspi)"
launcher=""
for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
    [[ -x $candidate ]] && launcher=$candidate && break
done
[[ -n $launcher ]] || skip "no at-spi-bus-launcher (at-spi2-core)"
for tool in dbus-run-session Xvfb openbox xdotool; do
    command -v "$tool" >/dev/null || skip "no $tool"
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    [[ -s $work/gui.log ]] && sed 's/^/  gui: /' "$work/gui.log" >&2
    exit 1
}

# Wait up to $1 tenths of a second for a command to succeed: only so that a test that goes wrong
# cannot hang.
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
wait_for 300 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' \
    || fail "openbox did not start"

# The session bus lives as long as the checks; the accessibility bus is started on it at once,
# as a desktop session starts it, and its registry with the first program that asks for it.
status=0
XDG_RUNTIME_DIR=$work dbus-run-session -- bash -c '
    "$1" --launch-immediately >>"$2/bus.log" 2>&1 &
    launcher=$!
    "$3" "$4" "$5" "$2"
    status=$?
    kill "$launcher" 2>/dev/null
    exit $status
' accessibility "$launcher" "$work" "$python" "$here/accessibility-check.py" "$gui" || status=$?
((status == 0)) || fail "the checks failed (status $status)"

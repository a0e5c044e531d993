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

# shellcheck source=x-session.sh
. "$(dirname "$(realpath "$0")")/x-session.sh"

start_x_session

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

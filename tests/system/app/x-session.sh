# Sourced by the scripts that start hufpack-gui in a real X server. They define `work` (a
# scratch folder), `pids` (what their cleanup kills) and `fail` first.

# Wait up to $1 tenths of a second for a command to succeed: only so that a test that goes wrong
# cannot hang; the limits are far beyond what any step takes.
wait_for() {
    local tries=$1
    shift
    while ((tries-- > 0)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# Xvfb on a display number of its own choosing, named in $work/display, with openbox as its
# window manager, so that a window becomes active and takes keys; exports DISPLAY.
start_x_session() {
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    wait_for 100 test -s "$work/display" || fail "Xvfb did not start"
    DISPLAY=":$(head -n 1 "$work/display")"
    export DISPLAY
    openbox >/dev/null 2>&1 &
    pids+=($!)
    # The window manager is there once it has named itself on the root window.
    wait_for 300 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' \
        || fail "openbox did not start"
}

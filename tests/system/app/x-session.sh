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
    # The window manager is there once it has named itself on the root window. One that ends
    # before that (seen once, on a loaded machine) is started again, twice at most; what it said
    # is shown if it never comes up.
    local starts=0 wm
    until wm_named_itself; do
        ((starts++ < 3)) || fail "openbox ended three times: $(tail -n 5 "$work/openbox.log")"
        openbox >>"$work/openbox.log" 2>&1 &
        wm=$!
        pids+=("$wm")
        wait_for 300 wm_up_or_gone "$wm" || true
        wm_up_or_gone "$wm" || fail "openbox did not start: $(tail -n 5 "$work/openbox.log")"
    done
}

wm_named_itself() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"
}

wm_up_or_gone() {
    wm_named_itself || ! kill -0 "$1" 2>/dev/null
}

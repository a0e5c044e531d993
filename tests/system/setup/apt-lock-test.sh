#!/usr/bin/env bash
# The set-up's apt-get as a fresh machine meets it: another apt holds the lock of the package
# lists while `apt-get update` runs. It must wait, and go on once the lock is let go; a failure
# of another kind is not waited on. The real apt-get, on lists of its own in a scratch folder
# (no sources, so no network).
#
#   apt-lock-test.sh APT-GET-WAITING
# Exits 77 (skipped) on a system without apt-get.
set -euo pipefail
helper=$(realpath "$1")
command -v apt-get >/dev/null || { echo "SKIP: no apt-get"; exit 77; }
work=$(mktemp -d)
holder=""
cleanup() {
    [[ -n $holder ]] && kill "$holder" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    sed 's/^/  apt: /' "$work/apt.log" >&2 2>/dev/null || true
    exit 1
}
# Waits for a command to succeed, up to a minute: only so that a broken test cannot hang.
wait_for() {
    local tries=600
    while ((tries-- > 0)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

cd "$work"
mkdir -p lists/partial cache/archives/partial
: >sources.list
options=(-o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
    -o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts="$work/none")

# The other apt holds the lock as apt does, with a record lock, until it is told to let go.
mkfifo release
python3 -c '
import fcntl, os, sys
lock = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT, 0o640)
fcntl.lockf(lock, fcntl.LOCK_EX)
print("held", flush=True)
open(sys.argv[2]).read()
' lists/lock release >holder.out &
holder=$!
wait_for grep -q held holder.out || fail "the lock was not taken"

"$helper" "${options[@]}" update >apt.log 2>&1 &
apt=$!
told() { grep -q "trying again" apt.log || ! kill -0 "$apt" 2>/dev/null; }
wait_for told || fail "apt-get neither ended nor said it waits"
kill -0 "$apt" 2>/dev/null || fail "apt-get ended while the lock was held, instead of waiting"
echo >release
wait "$holder" || true
holder=""
status=0
wait "$apt" || status=$?
((status == 0)) || fail "apt-get update failed (status $status) once the lock was let go"
[[ -f lists/lock ]] || fail "apt-get update did not lock the lists it updated"
echo "PASS: apt-get update waits for a held lock of the package lists, then updates"

status=0
"$helper" "${options[@]}" --no-such-option update >apt.log 2>&1 || status=$?
((status != 0)) || fail "a wrong option passed"
! grep -q "trying again" apt.log || fail "a failure that is not a held lock was waited on"
echo "PASS: a failure of another kind is reported at once"

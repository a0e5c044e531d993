#!/usr/bin/env bash
# The bash completion as a user meets it: press Tab after "hufpack" and what comes back.
#
#   completion-test.sh COMPLETION-FILE HUFPACK
set -euo pipefail
completion=$(realpath "$1")
hufpack=$(realpath "$2")
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir folder
touch notes.txt notes.txt.huf other.hp

# What Tab offers for the words before the cursor (the last word is being typed).
offers() {
    bash --norc --noprofile -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        _hufpack
        printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$@"
}
expect() {
    local want=$1
    shift
    local got
    got=$(offers "$@" | paste -sd ' ')
    [[ $got == "$want" ]] || fail "hufpack ${*:2}<Tab> offers '$got', not '$want'"
}

expect '--decompress' hufpack --de
expect 'folder notes.txt notes.txt.huf other.hp' hufpack -k ''
expect 'decode encode folder notes.txt notes.txt.huf other.hp' hufpack ''
expect 'folder notes.txt.huf' hufpack -d ''
expect 'folder notes.txt.huf' hufpack -dc ''
expect 'folder notes.txt.huf' hufpack --list ''
expect 'folder notes.txt.huf' hufpack -l ''
expect 'folder other.hp' hufpack -d -S .hp ''
expect 'folder other.hp' hufpack --suffix=.hp -t ''
expect 'notes.txt notes.txt.huf' hufpack -o notes
bash --norc --noprofile -c "source '$completion'; complete -p hufpack" | grep -q -- '-F _hufpack' \
    || fail "the completion is not registered for hufpack"

# Every option that --help lists can be completed.
for option in $("$hufpack" --help | grep -oE -- '(^| )--?[a-zA-Z-]+' | tr -d ' ' | sort -u); do
    offers hufpack "$option" | grep -qxF -- "$option" || fail "Tab does not complete $option"
done

((failures == 0)) || exit 1
echo "bash completion: all good"

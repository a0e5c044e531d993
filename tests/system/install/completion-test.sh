#!/usr/bin/env bash
# The bash completion as a user meets it: press Tab after "hufpack" and what comes back.
#
#   completion-test.sh COMPLETION-FILE HUFPACK MANUAL-PAGE     (the page as roff, or gzipped)
set -euo pipefail
completion=$(realpath "$1")
hufpack=$(realpath "$2")
manual=$(realpath "$3")
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/files"
cd "$work/files"
mkdir folder
touch notes.txt notes.txt.huf other.hp

# What Tab offers for the words before the cursor (the last word is being typed), on a machine
# with $processors processors.
processors=4
offers() {
    printf '#!/bin/sh\necho %s\n' "$processors" >"$work/bin/nproc"
    chmod +x "$work/bin/nproc"
    PATH="$work/bin:$PATH" bash --norc --noprofile -c '
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
expect 'folder notes.txt.huf' hufpack --uncompress ''
expect 'folder notes.txt.huf' hufpack -l ''
expect 'folder other.hp' hufpack -d -S .hp ''
expect 'folder other.hp' hufpack --suffix=.hp -t ''
expect 'notes.txt notes.txt.huf' hufpack -o notes
expect '--uncompress' hufpack --unc
expect '--to-stdout' hufpack --to
# -T offers each number once, the processors' among them.
for processors in 1 2 4 6; do
    expect "$(printf '%s\n' 0 1 2 4 "$processors" | sort -u | paste -sd ' ')" hufpack -T ''
done
grep -q -- '-F _hufpack' <<<"$(bash --norc --noprofile -c "source '$completion'; complete -p hufpack")" \
    || fail "the completion is not registered for hufpack"

# Every option that --help lists, and every one the manual page documents (the tags of its
# OPTIONS section, where "-1 ... -9" is nine), can be completed.
documented() {
    "$hufpack" --help | grep -oE -- '(^| )--?[a-zA-Z-]+' | tr -d ' '
    local tags
    tags=$(zcat -f "$manual" | sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/p' | sed -n '/^\.TP/{n;p}' | tr -d '\\')
    grep -oE -- '(^| )--?[a-zA-Z0-9][a-zA-Z0-9-]*' <<<"$tags" | tr -d ' '
    if grep -qE -- '-1 " \.\.\. " -9' <<<"$tags"; then
        printf -- '-%s\n' 1 2 3 4 5 6 7 8 9
    fi
}
options=$(documented | sort -u)
for required in --uncompress --to-stdout -5 --threads; do
    grep -qxF -- "$required" <<<"$options" || fail "$required is not among the documented options"
done
for option in $options; do
    grep -qxF -- "$option" <<<"$(offers hufpack "$option")" || fail "Tab does not complete $option"
done

((failures == 0)) || exit 1
echo "bash completion: all good"

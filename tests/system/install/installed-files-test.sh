#!/usr/bin/env bash
# Installs the build into a staging folder, as a packager does (DESTDIR, prefix /usr), and checks
# what lands there: exactly the expected files with the right modes, a desktop entry and
# AppStream data that the freedesktop validators pass without a single remark, icons that the
# entry's Icon= name finds, and manual pages that man renders without warnings and that document
# every option and exit status of the tool.
#
#   installed-files-test.sh BUILD-DIR
set -euo pipefail
build=$1

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"
app_id=org.hufpack.hufpack

# The one list of what an installed Hufpack is, package by package; the package test checks the
# .debs against it too.
list=$(dirname "$0")/expected-files.txt
expected=$("$(dirname "$0")/expected-files.sh" "$build")
actual=$(cd "$stage" && find . -mindepth 1 \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort)
if ! diff -u <(echo "$expected") <(echo "$actual"); then
    fail "the installed files differ from $list (- expected, + installed)"
fi

# The packaging document's table of the files and their packages, relative to the prefix, says
# "exactly" too. A cell may name several files: `{16x16,32x32}` is one file for each, and a name
# without a folder is in the folder of the one before it. What varies from machine to machine
# is written <triplet> (the library folder's), <config> (the build type) and <suffix> (the
# interpreter's for its modules).
documented=$(python3 - "$(dirname "$0")/../../../docs/packaging.md" <<'EOF_PY'
import re, sys
lines = open(sys.argv[1]).read().splitlines()
start = next(i for i, line in enumerate(lines) if line.startswith("| file |"))
for line in lines[start + 2:]:
    if not line.startswith("|"):
        break
    cells = line.split("|")
    folder = ""
    for name in re.findall(r"`([^`]+)`", cells[1]):
        if "/" not in name:
            name = folder + name
        folder = name[: name.rfind("/") + 1]
        braces = re.search(r"\{([^}]*)\}", name)
        for choice in braces.group(1).split(",") if braces else [None]:
            path = name.replace(braces.group(0), choice) if braces else name
            path = (path.replace("lib/<triplet>", "@LIBDIR@").replace("<config>", "@CONFIG@")
                    .replace("<suffix>", "@PYTHON_EXT@"))
            print(cells[2].strip(" `"), "usr/" + path)
EOF_PY
)
if ! diff -u <(LC_ALL=C sort <<<"$documented") <(LC_ALL=C sort "$list"); then
    fail "docs/packaging.md's table differs from $list (- documented, + listed)"
fi

while read -r path; do
    [[ ! -L $stage/$path ]] || continue
    mode=$(stat -c %a "$stage/$path" 2>/dev/null) || continue
    case $path in
    usr/bin/*) want=755 ;;
    *) want=644 ;;
    esac
    [[ $mode == "$want" ]] || fail "$path has mode $mode, not $want"
done <<<"$expected"

# The validators print every error, warning, hint and pedantic remark; none may appear.
desktop="$root/share/applications/$app_id.desktop"
if ! out=$(desktop-file-validate "$desktop" 2>&1) || [[ -n $out ]]; then
    fail "desktop-file-validate: $out"
fi
metainfo="$root/share/metainfo/$app_id.metainfo.xml"
for check in "validate --no-net --pedantic $metainfo" "validate-tree --no-net --pedantic $stage"; do
    # shellcheck disable=SC2086
    if ! out=$(appstreamcli $check 2>&1) || grep -qE '^ *[EWIP]: ' <<<"$out" \
        || ! grep -q 'Validation was successful\.$' <<<"$out"; then
        fail "appstreamcli $check: $out"
    fi
done

# Files of the type open in the dialog: the entry takes one file (%f) and lists the type, which
# the MIME package defines by its glob, with the program's icon; the AppStream data names it.
mime_type=application/x-hufpack
grep -qx 'Exec=hufpack-gui %f' "$desktop" || fail "the desktop entry does not take a file: $(grep ^Exec= "$desktop")"
grep -qx "MimeType=$mime_type;" "$desktop" || fail "the desktop entry lists no $mime_type"
grep -q "<mediatype>$mime_type</mediatype>" "$metainfo" || fail "the AppStream data lacks the media type"
mime=$(mktemp -d)
cp -r "$root/share/mime" "$mime/"
if ! out=$(XDG_DATA_DIRS=$mime update-mime-database "$mime/mime" 2>&1) || [[ -n $out ]]; then
    fail "update-mime-database: $out"
fi
grep -qx "50:$mime_type:\*.huf" "$mime/mime/globs2" || fail "the MIME database has no *.huf glob for $mime_type"
grep -qx "$mime_type:$app_id" "$mime/mime/icons" || fail "the MIME database gives $mime_type no icon"
[[ -s $mime/mime/${mime_type}.xml ]] || fail "the MIME database has no entry for $mime_type"
# Desktops read the entry through GIO, with the databases a package's triggers build.
cp -r "$root/share/applications" "$mime/"
XDG_DATA_DIRS=$mime update-desktop-database "$mime/applications" || fail "update-desktop-database failed"
"$(dirname "$0")/desktop-reads-entry.sh" "$mime" "$root/bin" >/dev/null || fail "GIO does not open .huf files with the entry"
rm -rf "$mime"

# The menu finds the icon by the entry's Icon= name in the hicolor theme, at every size.
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ $icon == "$app_id" ]] || fail "the desktop entry's icon is '$icon', not $app_id"
for file in 16x16/apps/$icon.png 32x32/apps/$icon.png scalable/apps/$icon.svg; do
    [[ -s $root/share/icons/hicolor/$file ]] || fail "icon $file is missing"
done
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "the AppStream data does not launch $app_id.desktop"

# Manual pages: rendered as lintian does, groff's warnings on standard error.
for page in hufpack hufpack-gui; do
    file="$root/share/man/man1/$page.1.gz"
    if ! warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$file" 2>&1 >/dev/null) || [[ -n $warnings ]]; then
        fail "man $page: $warnings"
    fi
done
manual=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/share/man/man1/hufpack.1.gz" 2>/dev/null \
    | col -b)
help=$("$root/bin/hufpack" --help)
for option in $(grep -oE -- '(^| )--?[a-zA-Z-]+' <<<"$help" | tr -d ' ' | sort -u); do
    grep -qF -- "$option" <<<"$manual" || fail "hufpack's manual page lacks the option $option"
done
for command in encode decode; do
    grep -qE "^ +$command " <<<"$manual" || fail "hufpack's manual page lacks the command $command"
done
statuses=$(grep -oE '[0-9] [A-Za-z]' <<<"$(sed -n '/^Exit status/,$p' <<<"$help")" \
    | cut -c1 | sort -u | tr -d '\n')
[[ $statuses == 012345 ]] || fail "hufpack --help lists exit statuses '$statuses'"
# The section is taken first: grep -q ending a pipe early would fail it under pipefail.
exits=$(sed -n '/^EXIT STATUS/,/^EXAMPLES/p' <<<"$manual")
for status in $(grep -o . <<<"$statuses"); do
    grep -qE "^ +$status( |$)" <<<"$exits" || fail "hufpack's manual page lacks exit status $status"
done
"$(dirname "$0")/completion-test.sh" "$root/share/bash-completion/completions/hufpack" \
    "$root/bin/hufpack" "$root/share/man/man1/hufpack.1.gz" >/dev/null \
    || fail "the installed bash completion does not work"
version=$("$root/bin/hufpack" --version | awk '{print $2}')
head -n 1 <<<"$manual" | grep -q . || fail "hufpack's manual page is empty"
tail -n 1 <<<"$manual" | grep -qF "hufpack $version" \
    || fail "hufpack's manual page is not for version $version"

((failures == 0)) || exit 1
echo "installed files, validators and manual pages: all good"

#!/usr/bin/env bash
# Builds the Debian package from a build folder with `cpack -G DEB` and checks it: its files are
# exactly the installed files, its dependencies were computed from the programs' libraries, and
# its control data names the package. Then, as root and where no hufpack package is installed
# already, it installs the package with apt-get, runs `hufpack --version` and `man hufpack`,
# starts `hufpack-gui` under xvfb-run, ends it with Escape, and removes the package again.
# Installing changes the machine, so it happens only where asked for: in CI (CI=true) or with
# HUFPACK_TEST_INSTALL=1; otherwise, and without root, that part is skipped (exit status 77).
#
#   deb-package-test.sh BUILD-DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# apt-get, waiting for another apt that is running.
apt=$here/../../../scripts/apt-get-waiting

work=$(mktemp -d)
installed=0
cleanup() {
    if ((installed)); then
        "$apt" purge -y -q hufpack >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) \
    || { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$work"/package/*.deb)
((${#debs[@]} == 1)) || fail "cpack made ${#debs[@]} packages, not one"
deb=${debs[0]}
echo "built $(basename "$deb")"

# Exactly the installed files: the same list the staged install is checked against.
contents=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./||' | LC_ALL=C sort)
diff -u "$here/expected-files.txt" <(echo "$contents") \
    || fail "the package's files differ from expected-files.txt (- expected, + packaged)"

field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == hufpack ]] || fail "the package is named '$(field Package)'"
version=$("$build/cli/hufpack" --version | awk '{print $2}')
[[ $(field Version) == "$version" ]] || fail "the package's version is '$(field Version)'"
depends=$(field Depends)
names=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
    grep -qxF "$library" <<<"$names" \
        || fail "Depends lacks $library (dpkg-shlibdeps not run?): $depends"
done
# What makes it work fully, where apt installs recommended packages: tab completion for the
# tool, the dialog's layout font, Qt's Wayland plugin.
recommends=$(field Recommends | tr ',' '\n' | awk '{print $1}')
for package in bash-completion fonts-liberation2 qt6-wayland; do
    grep -qxF "$package" <<<"$recommends" || fail "Recommends lacks $package: $(field Recommends)"
done
# Stripped: no debugging sections in the packaged programs.
mkdir "$work/tree"
dpkg-deb --extract "$deb" "$work/tree"
for program in hufpack hufpack-gui; do
    if readelf -S "$work/tree/usr/bin/$program" | grep -q '\.debug_info'; then
        fail "$program is packaged with its debugging information"
    fi
done
echo "package contents and control data: all good"

if [[ ${CI:-} != true && ${HUFPACK_TEST_INSTALL:-} != 1 ]]; then
    echo "installing the package system-wide is skipped: set HUFPACK_TEST_INSTALL=1 to do it"
    exit 77
fi
if [[ $(id -u) -ne 0 ]]; then
    echo "not root: installing the package is skipped"
    exit 77
fi
if dpkg-query -W -f='${Status}' hufpack 2>/dev/null | grep -q 'install ok installed'; then
    echo "a hufpack package is installed already: installing this one is skipped"
    exit 77
fi

installed=1
"$apt" install -y -q --no-install-recommends "$deb" \
    >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
[[ $(command -v hufpack) == /usr/bin/hufpack ]] || fail "hufpack is not on the PATH"
[[ $(hufpack --version) == "hufpack $version" ]] || fail "hufpack --version: $(hufpack --version)"
page=$(man -w hufpack) || fail "man finds no page for hufpack"
[[ $page == /usr/share/man/man1/hufpack.1.gz ]] || fail "man hufpack shows $page"

# The package's triggers built the MIME and desktop databases: GIO opens .huf files with the
# installed entry.
"$here/desktop-reads-entry.sh" /usr/share /usr/bin || fail "GIO does not open .huf files with the installed entry"

# The installed desktop entry starts the dialog; the window's WM_CLASS is what the entry
# declares, so that X11 menus and docks tie the window to the entry and its icon.
desktop=/usr/share/applications/org.hufpack.hufpack.desktop
# Started from the menu, with no file: the entry's field codes stand for none.
exec_line=$(sed -n 's/^Exec=//p' "$desktop" | sed 's/ %[fFuU]//g')
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
cat >"$work/session.sh" <<SESSION
#!/usr/bin/env bash
set -u
$exec_line >"$work/gui.log" 2>&1 &
gui=\$!
for _ in \$(seq 100); do
    window=\$(xdotool search --name '^Hufpack\$' 2>/dev/null | head -n 1)
    [[ -n \$window ]] && break
    sleep 0.1
done
[[ -n \$window ]] || { echo "the dialog did not open"; kill \$gui; exit 1; }
xprop -id "\$window" WM_CLASS >"$work/wm_class"
xdotool windowfocus --sync "\$window" key Escape
for _ in \$(seq 100); do
    kill -0 \$gui 2>/dev/null || break
    sleep 0.1
done
if kill -0 \$gui 2>/dev/null; then
    echo "the dialog did not end on Escape"
    kill \$gui
    exit 1
fi
wait \$gui
SESSION
chmod +x "$work/session.sh"
status=0
timeout 60 xvfb-run -a "$work/session.sh" || status=$?
((status == 0)) || { cat "$work/gui.log" >&2; fail "hufpack-gui under xvfb-run ended with $status"; }
grep -qF "\"$wm_class\"" "$work/wm_class" \
    || fail "the window's $(cat "$work/wm_class") does not hold StartupWMClass $wm_class"

echo "installed with apt-get: hufpack, man hufpack and hufpack-gui all work"

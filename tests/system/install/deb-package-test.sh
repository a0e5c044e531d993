#!/usr/bin/env bash
# Builds the Debian packages from a build folder with `cpack -G DEB` and checks each: its files
# are exactly its installed files, its dependencies were computed from its programs' libraries
# (the tool's bring in no Qt, however deep), lintian finds no error in it, and its control data
# names it. Then, as root and where no hufpack package is installed already, it installs each
# package on its own with apt-get (with libhufpack1 where it needs it) and uses it: hufpack and
# its manual page; hufpack-gui from its desktop entry under xvfb-run, ended with Escape; a C
# program built with pkg-config and with find_package against the installed library; the Python
# module under /usr/bin/python3. Each is removed again before the next.
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
installed=()
remove_installed() {
    if ((${#installed[@]})); then
        "$apt" purge -y -q "${installed[@]}" >/dev/null 2>&1 || true
    fi
    installed=()
}
cleanup() {
    remove_installed
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) \
    || { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
packages=(hufpack libhufpack1 libhufpack-dev)
[[ $(cache HUFPACK_BUILD_GUI) != ON ]] || packages+=(hufpack-gui)
[[ $(cache HUFPACK_BUILD_PYTHON) != ON ]] || packages+=(python3-hufpack)
version=$("$build/cli/hufpack" --version | awk '{print $2}')
architecture=$(dpkg --print-architecture)
debs=("$work"/package/*.deb)
((${#debs[@]} == ${#packages[@]})) || fail "cpack made ${#debs[@]} packages, not ${#packages[@]}: ${debs[*]##*/}"
declare -A deb
for package in "${packages[@]}"; do
    deb[$package]=$work/package/${package}_${version}_$architecture.deb
    [[ -f ${deb[$package]} ]] || fail "no package ${deb[$package]##*/} among ${debs[*]##*/}"
done
echo "built ${debs[*]##*/}"

field() { dpkg-deb --field "${deb[$1]}" "$2"; }
names() { field "$1" "$2" | tr ',|' '\n\n' | awk '{print $1}'; }
requires() { # package, field, the names it must hold
    local package=$1 name=$2
    shift 2
    for wanted in "$@"; do
        grep -qxF "$wanted" <<<"$(names "$package" "$name")" \
            || fail "$package's $name lacks $wanted (dpkg-shlibdeps not run?): $(field "$package" "$name")"
    done
}
mkdir "$work/tree"
for package in "${packages[@]}"; do
    # Exactly its installed files: the same list the staged install is checked against.
    contents=$(dpkg-deb --fsys-tarfile "${deb[$package]}" | tar -t | grep -v '/$' | sed 's|^\./||' \
        | LC_ALL=C sort)
    diff -u <("$here/expected-files.sh" "$build" "$package") <(echo "$contents") \
        || fail "$package's files differ from expected-files.txt (- expected, + packaged)"
    [[ $(field "$package" Package) == "$package" ]] || fail "$package is named '$(field "$package" Package)'"
    [[ $(field "$package" Version) == "$version" ]] || fail "$package's version is '$(field "$package" Version)'"
    dpkg-deb --extract "${deb[$package]}" "$work/tree"
done

requires hufpack Recommends bash-completion
# A tool linked statically depends on nothing; the packages' build links it against the shared
# system libraries.
if [[ $(cache HUFPACK_STATIC_CLI) != ON ]]; then
    requires hufpack Depends libc6 libstdc++6
    # A server takes the tool without Qt: nothing it depends on, however deep, is a Qt package.
    closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
        --no-breaks --no-replaces --no-enhances $(names hufpack Depends) 2>/dev/null \
        | grep -v '^ ' | sort -u)
    grep -qx libc6 <<<"$closure" || fail "apt-cache does not resolve hufpack's dependencies: $closure"
    if qt=$(grep -i 'qt' <<<"$closure"); then
        fail "hufpack pulls in Qt: $(tr '\n' ' ' <<<"$qt")"
    fi
elif [[ -n $(field hufpack Depends) ]]; then
    fail "the static hufpack depends on $(field hufpack Depends)"
fi
requires libhufpack1 Depends libc6 libstdc++6
# Programs built against the library depend on this package from this version on.
shlibs=$(dpkg-deb --ctrl-tarfile "${deb[libhufpack1]}" | tar -xO ./shlibs)
[[ $shlibs == "libhufpack 1 libhufpack1 (>= $version)" ]] || fail "libhufpack1's shlibs: $shlibs"
# dpkg's trigger rebuilds the loader's cache when it is installed and removed.
[[ $(dpkg-deb --ctrl-tarfile "${deb[libhufpack1]}" | tar -xO ./triggers) == "activate-noawait ldconfig" ]] \
    || fail "libhufpack1 does not activate the ldconfig trigger"
grep -qF "libhufpack1 (= $version)" <<<"$(field libhufpack-dev Depends)" \
    || fail "libhufpack-dev's Depends: $(field libhufpack-dev Depends)"
if [[ -v deb[hufpack-gui] ]]; then
    requires hufpack-gui Depends libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6
    # What makes it work fully, where apt installs recommended packages: the tool, the dialog's
    # layout font and Qt's Wayland plugin.
    requires hufpack-gui Recommends hufpack fonts-liberation2 qt6-wayland
fi
if [[ -v deb[python3-hufpack] ]]; then
    requires python3-hufpack Depends libhufpack1 python3 libc6 libstdc++6
fi
# Stripped: no debugging sections in what runs.
while read -r file; do
    if grep -q '\.debug_info' <<<"$(readelf -S "$file")"; then
        fail "${file#"$work/tree/"} is packaged with its debugging information"
    fi
done < <(find "$work/tree" -type f \( -path '*/bin/*' -o -name '*.so*' -o -name '*.a' \))
# Lintian's errors are Debian's own bar for a package. A plain build links the tool statically,
# which the packages' build does not.
if command -v lintian >/dev/null; then
    suppress=()
    [[ $(cache HUFPACK_STATIC_CLI) != ON ]] || suppress=(--suppress-tags statically-linked-binary)
    for package in "${packages[@]}"; do
        lintian --fail-on error --allow-root "${suppress[@]}" "${deb[$package]}" >"$work/lintian.log" 2>&1 \
            || { cat "$work/lintian.log" >&2; fail "lintian finds errors in $package"; }
    done
else
    echo "lintian is not installed: its checks are skipped"
fi
echo "packages' contents and control data: all good"

if [[ ${CI:-} != true && ${HUFPACK_TEST_INSTALL:-} != 1 ]]; then
    echo "installing the packages system-wide is skipped: set HUFPACK_TEST_INSTALL=1 to do it"
    exit 77
fi
if [[ $(id -u) -ne 0 ]]; then
    echo "not root: installing the packages is skipped"
    exit 77
fi
for package in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        echo "the package $package is installed already: installing these is skipped"
        exit 77
    fi
done

# Installs the packages named, and nothing of Hufpack's else.
install_packages() {
    installed=("$@")
    local files=()
    for package in "$@"; do
        files+=("${deb[$package]}")
    done
    "$apt" install -y -q --no-install-recommends "${files[@]}" >"$work/apt.log" 2>&1 \
        || { cat "$work/apt.log" >&2; fail "apt-get install $* failed"; }
}

install_packages hufpack
[[ $(command -v hufpack) == /usr/bin/hufpack ]] || fail "hufpack is not on the PATH"
[[ $(hufpack --version) == "hufpack $version" ]] || fail "hufpack --version: $(hufpack --version)"
page=$(man -w hufpack) || fail "man finds no page for hufpack"
[[ $page == /usr/share/man/man1/hufpack.1.gz ]] || fail "man hufpack shows $page"
if ldd /usr/bin/hufpack 2>&1 | grep -i qt; then
    fail "the installed hufpack loads Qt"
fi
head -c 100000 /dev/urandom | base64 >"$work/sample"
hufpack -c "$work/sample" | hufpack -dc | cmp -s - "$work/sample" || fail "the installed hufpack does not round-trip"
remove_installed
echo "hufpack installed on its own: the tool, its page, no Qt"

install_packages libhufpack1
# /lib is /usr/lib on a merged system: the loader may name either.
grep -qE "libhufpack\.so\.1 .* => (/usr)?/lib/" <<<"$(ldconfig -p)" \
    || fail "the loader does not know the installed libhufpack.so.1: $(ldconfig -p | grep hufpack)"
remove_installed

install_packages libhufpack1 libhufpack-dev
cc -std=c99 -Wall -Wextra -Werror "$here/consumer/consumer.c" $(pkg-config --cflags --libs hufpack) \
    -o "$work/by-pkg-config" || fail "a C program does not build with pkg-config hufpack"
"$work/by-pkg-config" "$work/sample" >/dev/null || fail "the C program built with pkg-config fails"
grep -qE "libhufpack\.so\.1 => (/usr)?/lib/" <<<"$(ldd "$work/by-pkg-config")" \
    || fail "the C program does not load the installed library"
cmake -S "$here/consumer" -B "$work/consumer-build" >/dev/null && cmake --build "$work/consumer-build" >/dev/null \
    || fail "a C project does not build with find_package(hufpack)"
"$work/consumer-build/consumer" "$work/sample" >/dev/null && "$work/consumer-build/consumer-static" "$work/sample" >/dev/null \
    || fail "the C programs built with find_package fail"
remove_installed
echo "libhufpack1 and libhufpack-dev installed: C programs build and run against them"

if [[ -v deb[python3-hufpack] ]]; then
    install_packages libhufpack1 python3-hufpack
    (cd / && /usr/bin/python3 -I - "$work/sample") <<'PYTHON' || fail "the installed Python module does not work"
import sys, hufpack
assert hufpack.__file__.startswith("/usr/lib/python3/dist-packages/hufpack/"), hufpack.__file__
data = open(sys.argv[1], "rb").read()
assert hufpack.decompress(hufpack.compress(data)) == data
PYTHON
    remove_installed
    echo "python3-hufpack installed: the module imports and round-trips"
fi

[[ -v deb[hufpack-gui] ]] || exit 0
install_packages hufpack-gui
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

remove_installed
echo "hufpack-gui installed on its own: its entry opens .huf files, the dialog starts and ends"

#!/usr/bin/env bash
# Prints what an install of a build delivers, one path a line relative to the staging folder and
# sorted, from expected-files.txt (each line: the Debian package, the path): every package's, or
# one package's. The build's own settings fill in the library folder, the build type and the
# Python module's suffix, and decide whether the dialog and the module are built at all.
#
#   expected-files.sh BUILD-DIR [PACKAGE]
set -euo pipefail
build=$1
package=${2:-}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

libdir=$(cache CMAKE_INSTALL_LIBDIR)
config=$(cache CMAKE_BUILD_TYPE | tr '[:upper:]' '[:lower:]')
skip=()
[[ $(cache HUFPACK_BUILD_GUI) == ON ]] || skip+=(hufpack-gui)
python_ext=none
if [[ $(cache HUFPACK_BUILD_PYTHON) == ON ]]; then
    python_ext=$(/usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
else
    skip+=(python3-hufpack)
fi
while read -r owner path; do
    [[ -z $package || $owner == "$package" ]] || continue
    [[ " ${skip[*]} " != *" $owner "* ]] || continue
    path=${path//@LIBDIR@/$libdir}
    path=${path//@CONFIG@/$config}
    echo "${path//@PYTHON_EXT@/$python_ext}"
done <"$(dirname "$0")/expected-files.txt" | LC_ALL=C sort

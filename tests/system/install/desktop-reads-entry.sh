#!/usr/bin/env bash
# Reads Hufpack's desktop entry as GNOME, Xfce, Cinnamon and MATE read it, through GIO: the entry
# loads (so its TryExec names a program found on the PATH), takes one file, and is the default
# application for the compressed files' type, by the MIME and desktop databases of DATA-DIR alone
# (no user's settings). `desktop-file-validate` passes entries that GIO drops; this does not.
#
#   desktop-reads-entry.sh DATA-DIR BIN-DIR
set -euo pipefail
data=$1
bin=$2
app_id=org.hufpack.hufpack
mime_type=application/x-hufpack

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_DATA_DIRS=$data XDG_CONFIG_DIRS=$home/config
export PATH=$bin:/usr/bin:/bin LC_ALL=C
# Debian's own python3, which has the GObject bindings.
/usr/bin/python3 - "$data/applications/$app_id.desktop" <<'PYTHON'
import sys
import gi
gi.require_version("Gio", "2.0")
from gi.repository import Gio

entry = sys.argv[1]
info = Gio.DesktopAppInfo.new_from_filename(entry)
if info is None:
    sys.exit(f"GIO does not load {entry} (a TryExec that names no program on the PATH?)")
if info.get_executable() != "hufpack-gui" or info.get_commandline() != "hufpack-gui %f":
    sys.exit(f"GIO reads the command as {info.get_commandline()!r}")
if not info.supports_files():
    sys.exit("GIO says the entry takes no file")
default = Gio.AppInfo.get_default_for_type("application/x-hufpack", False)
if default is None or default.get_id() != "org.hufpack.hufpack.desktop":
    sys.exit(f"the default application for application/x-hufpack is {default and default.get_id()}")
PYTHON
answer=$(gio mime "$mime_type" 2>&1) || true
answer=${answer%%$'\n'*}
[[ $answer == "Default application for “$mime_type”: $app_id.desktop" \
    || $answer == "Default application for ?$mime_type?: $app_id.desktop" ]] \
    || { echo "gio mime $mime_type: $answer" >&2; exit 1; }
echo "GIO loads the entry and opens $mime_type with it"

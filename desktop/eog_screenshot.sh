#!/bin/sh
# Opens a ZR picture in the GNOME image viewer on a virtual screen (through
# the loader named by GDK_PIXBUF_MODULE_FILE) and saves a screenshot once the
# picture shows. Stops the viewer and the X server it started.
#   eog_screenshot.sh IN.zr OUT.png
set -eu
picture=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -f "$out"
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
xvfb-run -a -s "-screen 0 720x560x24 -nolisten tcp" \
  /usr/bin/python3 "$here/eog_screenshot.py" "$picture" "$out"

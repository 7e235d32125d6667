#!/bin/sh
# Makes a thumbnail of a ZR picture with gdk-pixbuf-thumbnailer (through the
# loader named by GDK_PIXBUF_MODULE_FILE) and checks it is a PNG of 64 pixels.
#   thumbnail_test.sh IN.zr OUT.png
set -eu
rm -f "$2"
gdk-pixbuf-thumbnailer -s 64 "$1" "$2"
/usr/bin/python3 - "$2" <<'PY'
import sys
from PIL import Image
with Image.open(sys.argv[1]) as image:
    assert image.format == "PNG", image.format
    assert max(image.size) == 64, image.size
    colours = image.convert("RGB").getcolors(1 << 16)
    assert colours is None or len(colours) > 50, "the thumbnail is nearly flat"
print("thumbnail %s: PNG %dx%d" % (sys.argv[1], image.size[0], image.size[1]))
PY

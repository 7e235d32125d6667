"""Runs eog on the display of $DISPLAY and saves a screenshot once the
picture shows (many colours in the middle of the screen); stops eog."""
import io
import os
import subprocess
import sys
import tempfile
import time

from PIL import Image


def screenshot():
    xwd = subprocess.run(["xwd", "-root", "-silent"], capture_output=True, check=True).stdout
    pnm = subprocess.run(["xwdtopnm"], input=xwd, capture_output=True, check=True).stdout
    return Image.open(io.BytesIO(pnm)).convert("RGB")


def shows_picture(image):
    w, h = image.size
    middle = image.crop((w // 4, h // 4, 3 * w // 4, 3 * h // 4))
    colours = middle.getcolors(1 << 20)
    return colours is None or len(colours) > 1000


def main(picture, out):
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home, XDG_CACHE_HOME=home)
        viewer = subprocess.Popen(["eog", "--new-instance", "--single-window", picture], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            deadline = time.monotonic() + 90
            while time.monotonic() < deadline:
                time.sleep(1)
                if viewer.poll() is not None:
                    sys.exit("eog ended early: %s" % viewer.stderr.read().decode(errors="replace")[-2000:])
                image = screenshot()
                if shows_picture(image):
                    time.sleep(1)  # let it finish drawing
                    shot = screenshot()
                    # The window only, without the empty screen around it, in
                    # 256 colours to keep the file small.
                    shot.crop(shot.getbbox()).quantize(256).save(out, optimize=True)
                    print("saved %s" % out)
                    return
            sys.exit("the picture did not show within 90 s")
        finally:
            viewer.terminate()
            try:
                viewer.wait(10)
            except subprocess.TimeoutExpired:
                viewer.kill()
                viewer.wait()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

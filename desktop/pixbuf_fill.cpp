#include "desktop/pixbuf_fill.h"

#include <vector>

void fillPixbuf(GdkPixbuf* pixbuf, const PixelsView& view)
{
    int height = gdk_pixbuf_get_height(pixbuf);
    int width = gdk_pixbuf_get_width(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* out = gdk_pixbuf_get_pixels(pixbuf);
    // Source column of every pixbuf column.
    std::vector<int32_t> column(static_cast<size_t>(width));
    for (int x = 0; x < width; x++)
        column[size_t(x)] = int32_t(int64_t(x) * view.width / width);
    for (int y = 0; y < height; y++) {
        const uint8_t* row = view.pixels + size_t(int64_t(y) * view.height / height) * size_t(view.width)
                                               * size_t(view.bytesPerPixel);
        guchar* to = out + size_t(y) * size_t(stride);
        for (int x = 0; x < width; x++, to += 3) {
            const uint8_t* p = row + size_t(column[size_t(x)]) * size_t(view.bytesPerPixel);
            if (view.channels == 3) {
                to[0] = p[0];
                to[1] = p[1];
                to[2] = p[2];
            } else {
                uint8_t grey = view.bytesPerPixel == 2 ? greyTo8(uint32_t(p[0] | (p[1] << 8)), view.bitsPerSample) : p[0];
                to[0] = to[1] = to[2] = grey;
            }
        }
    }
}

// gdk-pixbuf loader for ZR pictures. Decodes incrementally: the pixbuf is
// prepared once the header has arrived, and every coarse stage of a
// level-progressive stream is shown (enlarged to the picture's size) while
// the rest is still arriving.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <algorithm>
#include <string>
#include <vector>

#include "codec/zr.h"
#include "desktop/pixbuf_fill.h"
#include "tools/stream_info.h"

namespace {

struct LoadContext {
    GdkPixbufModuleSizeFunc sizeFunc;
    GdkPixbufModulePreparedFunc preparedFunc;
    GdkPixbufModuleUpdatedFunc updatedFunc;
    gpointer userData;
    std::vector<uint8_t> head;   // bytes held back until the header is whole
    ZrIncremental* decoder = nullptr;
    GdkPixbuf* pixbuf = nullptr;
    int32_t shownPartHeight = 0; // the stage last shown
    int32_t shownPosition = -1;
    int32_t interval = 0;
};

void setError(GError** error, int code, const std::string& message)
{
    g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message.c_str());
}

// A refusal as a GError, with the reason the header gives.
void refusalError(GError** error, int32_t status, const std::vector<uint8_t>& head)
{
    if (status == ZR_STATUS_OUT_OF_MEMORY) {
        setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load the ZR picture");
        return;
    }
    StreamInfo info = inspectBytes(head.data(), head.size());
    std::string reason = info.status == status && !info.reason.empty() ? info.reason : zrStatusText(status);
    int code = status == ZR_STATUS_NOT_ZR ? GDK_PIXBUF_ERROR_UNKNOWN_TYPE
             : status == ZR_STATUS_BAD_VERSION || status == ZR_STATUS_UNSUPPORTED || status == ZR_STATUS_BAD_DEPTH
                 ? GDK_PIXBUF_ERROR_UNKNOWN_TYPE
                 : GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
    setError(error, code, "Cannot load the ZR picture: " + reason);
}

// Shows a partial picture when it is a new stage, or when enough of the
// stream has arrived since the last one was shown.
int32_t showPartial(void* data, const ZrPartial* partial)
{
    LoadContext* c = static_cast<LoadContext*>(data);
    bool newStage = partial->partHeight != c->shownPartHeight;
    bool muchLater = partial->position - c->shownPosition >= 8 * c->interval;
    if (!c->pixbuf || (!newStage && !muchLater))
        return 0;
    PixelsView view{partial->pixels, partial->partHeight, partial->partWidth, partial->channels,
                    partial->bitsPerSample, partial->bytesPerPixel};
    fillPixbuf(c->pixbuf, view);
    c->shownPartHeight = partial->partHeight;
    c->shownPosition = partial->position;
    if (c->updatedFunc)
        c->updatedFunc(c->pixbuf, 0, 0, gdk_pixbuf_get_width(c->pixbuf), gdk_pixbuf_get_height(c->pixbuf),
                       c->userData);
    return 0;
}

// Partial pictures often enough to see each coarse stage of a small
// picture, and at most a few dozen full renderings of a large one.
int32_t partialInterval(int32_t height, int32_t width)
{
    int64_t pixels = int64_t(height) * width;
    return int32_t(std::clamp<int64_t>(pixels / 64, 1024, 1 << 20));
}

// Once the header is whole: prepares the pixbuf and starts the decoder.
gboolean start(LoadContext* c, GError** error)
{
    // The magic "ZR" and the version byte decide at once; a shorter start
    // that matches them waits for more.
    static const uint8_t kMagic[] = {'Z', 'R'};
    size_t seen = std::min(c->head.size(), sizeof kMagic);
    if (c->head.size() < 3 && std::equal(c->head.begin(), c->head.begin() + std::ptrdiff_t(seen), kMagic))
        return TRUE;
    StreamInfo info = inspectBytes(c->head.data(), c->head.size());
    bool decided = info.status == ZR_STATUS_NOT_ZR || info.status == ZR_STATUS_BAD_VERSION;
    if (info.endsInHeader && !decided)
        return TRUE;  // wait for more
    if (info.status != 0) {
        refusalError(error, info.status, c->head);
        return FALSE;
    }
    int width = info.header.width, height = info.header.height;
    if (c->sizeFunc) {
        c->sizeFunc(&width, &height, c->userData);
        if (width <= 0 || height <= 0) {
            setError(error, GDK_PIXBUF_ERROR_FAILED, "The ZR picture was not wanted at any size");
            return FALSE;
        }
    }
    c->pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, info.header.width, info.header.height);
    if (!c->pixbuf) {
        setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory for the ZR picture's pixels");
        return FALSE;
    }
    gdk_pixbuf_fill(c->pixbuf, 0x808080ff);
    if (c->preparedFunc)
        c->preparedFunc(c->pixbuf, nullptr, c->userData);
    c->interval = partialInterval(info.header.height, info.header.width);
    c->decoder = zrIncrementalNew(nullptr, c->interval, showPartial, c);
    if (!c->decoder) {
        setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to decode the ZR picture");
        return FALSE;
    }
    int32_t status = zrIncrementalAppend(c->decoder, c->head.data(), c->head.size());
    if (status != 0) {
        refusalError(error, status, c->head);
        return FALSE;
    }
    return TRUE;
}

gpointer beginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError** /*error*/)
{
    LoadContext* c = new LoadContext();
    c->sizeFunc = sizeFunc;
    c->preparedFunc = preparedFunc;
    c->updatedFunc = updatedFunc;
    c->userData = userData;
    return c;
}

// The header is short; what comes after it goes straight to the decoder.
const size_t kHeadBytes = 256;

gboolean loadIncrement(gpointer context, const guchar* data, guint size, GError** error)
{
    LoadContext* c = static_cast<LoadContext*>(context);
    if (c->decoder) {
        int32_t status = zrIncrementalAppend(c->decoder, data, size);
        if (status != 0) {
            refusalError(error, status, c->head);
            return FALSE;
        }
        return TRUE;
    }
    size_t take = std::min<size_t>(size, kHeadBytes > c->head.size() ? kHeadBytes - c->head.size() : 0);
    c->head.insert(c->head.end(), data, data + take);
    if (!start(c, error))
        return FALSE;
    if (take < size) {
        if (!c->decoder) {
            // Still no whole header after kHeadBytes: it cannot be one.
            setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Cannot load the ZR picture: the header is too long");
            return FALSE;
        }
        return loadIncrement(context, data + take, size - guint(take), error);
    }
    return TRUE;
}

gboolean stopLoad(gpointer context, GError** error)
{
    LoadContext* c = static_cast<LoadContext*>(context);
    gboolean ok = TRUE;
    if (!c->decoder) {
        if (!c->pixbuf && (!error || !*error)) {
            setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                     c->head.empty() ? "Cannot load the ZR picture: the file is empty"
                                     : "Cannot load the ZR picture: the data ends inside the header");
        }
        ok = FALSE;
    } else {
        ZrPicture picture{};
        int32_t status = zrIncrementalFinish(c->decoder, &picture);
        if (status == 0 && picture.pixels) {
            PixelsView view{picture.pixels, picture.height, picture.width, picture.channels, picture.bitsPerSample,
                            picture.bytesPerPixel};
            fillPixbuf(c->pixbuf, view);
            if (c->updatedFunc)
                c->updatedFunc(c->pixbuf, 0, 0, picture.width, picture.height, c->userData);
        } else {
            refusalError(error, status, c->head);
            ok = FALSE;
        }
        zrFree(&picture);
    }
    zrIncrementalFree(c->decoder);
    if (c->pixbuf)
        g_object_unref(c->pixbuf);
    delete c;
    return ok;
}

} // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module)
{
    module->begin_load = beginLoad;
    module->stop_load = stopLoad;
    module->load_increment = loadIncrement;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info)
{
    static GdkPixbufModulePattern signature[] = {
        {const_cast<char*>("ZR\x02"), nullptr, 100},
        {const_cast<char*>("ZR"), nullptr, 50},
        {nullptr, nullptr, 0},
    };
    static const gchar* mimeTypes[] = {"image/x-zr", nullptr};
    static const gchar* extensions[] = {"zr", nullptr};
    info->name = const_cast<gchar*>("zr");
    info->signature = signature;
    info->description = const_cast<gchar*>("ZR wavelet picture");
    info->mime_types = const_cast<gchar**>(mimeTypes);
    info->extensions = const_cast<gchar**>(extensions);
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
    info->license = const_cast<gchar*>("Other");
}

} // extern "C"

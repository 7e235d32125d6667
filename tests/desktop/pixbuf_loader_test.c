/* Drives the ZR gdk-pixbuf loader through GdkPixbufLoader, as programs do,
 * with the loader found through GDK_PIXBUF_MODULE_FILE.
 *   test_pixbuf_loader SAMPLES_DIR ZRDEC ZRENC WORK_DIR */
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* samples;
static const char* zrdec;
static const char* zrenc;
static const char* work;
static int failures;

#define CHECK(cond, ...)                                                          \
    do {                                                                          \
        if (!(cond)) {                                                            \
            fprintf(stderr, "FAILED %s:%d: %s: ", __FILE__, __LINE__, #cond);    \
            fprintf(stderr, __VA_ARGS__);                                         \
            fputc('\n', stderr);                                                  \
            failures++;                                                           \
        }                                                                         \
    } while (0)

static guint8* readFile(const char* path, gsize* size)
{
    gchar* data = NULL;
    GError* error = NULL;
    if (!g_file_get_contents(path, &data, size, &error)) {
        fprintf(stderr, "cannot read %s: %s\n", path, error->message);
        exit(2);
    }
    return (guint8*)data;
}

/* Runs a tool; returns what it printed on standard error (its status line
 * and messages). */
static gchar* run(const char* const* argv)
{
    gchar* out = NULL;
    gchar* err = NULL;
    gint status = 0;
    GError* error = NULL;
    if (!g_spawn_sync(NULL, (gchar**)argv, NULL, G_SPAWN_DEFAULT, NULL, NULL, &out, &err, &status, &error)
        || !g_spawn_check_wait_status(status, NULL)) {
        fprintf(stderr, "%s failed: %s\n", argv[0], error ? error->message : err);
        exit(2);
    }
    g_free(out);
    return err;
}

/* zrdec's picture of a stream as 8-bit RGB rows, as the loader shows it:
 * grey repeated in R, G and B, deeper grey scaled with rounding. */
static guint8* expectedRgb(const char* path, int* height, int* width)
{
    gchar* raw = g_build_filename(work, "expected.raw", NULL);
    const char* argv[] = {zrdec, "--raw", path, raw, NULL};
    gchar* said = run(argv);
    int status, bpp, colour;
    if (sscanf(said, "status %d height %d width %d bpp %d colour %d", &status, height, width, &bpp, &colour) != 5) {
        fprintf(stderr, "zrdec said: %s\n", said);
        exit(2);
    }
    gsize size;
    guint8* pixels = readFile(raw, &size);
    gsize count = (gsize)*height * (gsize)*width;
    guint8* rgb = g_malloc(count * 3);
    for (gsize i = 0; i < count; i++) {
        if (colour) {
            memcpy(rgb + 3 * i, pixels + 3 * i, 3);
            continue;
        }
        guint8 grey = pixels[i];
        if (bpp > 8) {
            guint32 top = (1u << bpp) - 1, v = pixels[2 * i] | (pixels[2 * i + 1] << 8);
            grey = (guint8)((v * 255u * 2 + top) / (2 * top));
        }
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey;
    }
    g_free(pixels);
    g_free(said);
    g_free(raw);
    return rgb;
}

enum Writes { WHOLE, ONE_BYTE, RANDOM };
static const char* const writeNames[] = {"whole", "one byte", "random"};

/* What the loader's signals told. */
typedef struct {
    int prepared;
    int updates;
    guint32 shown[64]; /* checksums of the distinct pictures shown */
    int stages;
} Seen;

static guint32 checksum(GdkPixbuf* pixbuf)
{
    const guint8* p = gdk_pixbuf_read_pixels(pixbuf);
    gsize n = gdk_pixbuf_get_byte_length(pixbuf);
    guint32 h = 2166136261u;
    for (gsize i = 0; i < n; i++)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

static void onPrepared(GdkPixbufLoader* loader, gpointer data)
{
    (void)loader;
    ((Seen*)data)->prepared++;
}

static void onUpdated(GdkPixbufLoader* loader, gint x, gint y, gint w, gint h, gpointer data)
{
    Seen* seen = data;
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    seen->updates++;
    CHECK(x >= 0 && y >= 0 && x + w <= gdk_pixbuf_get_width(pixbuf) && y + h <= gdk_pixbuf_get_height(pixbuf),
          "area %d %d %d %d outside the picture", x, y, w, h);
    guint32 sum = checksum(pixbuf);
    if (seen->stages < 64 && (seen->stages == 0 || seen->shown[seen->stages - 1] != sum))
        seen->shown[seen->stages++] = sum;
}

/* Loads bytes through a GdkPixbufLoader (of type "zr", or sniffed when
 * type is NULL); returns the pixbuf or NULL with *error set. *stagesBefore
 * counts the distinct pictures shown before gdk_pixbuf_loader_close. */
static GdkPixbuf* load(const guint8* data, gsize size, enum Writes writes, const char* type, Seen* seen,
                       int* stagesBefore, GError** error)
{
    GdkPixbufLoader* loader = type ? gdk_pixbuf_loader_new_with_type(type, error) : gdk_pixbuf_loader_new();
    if (!loader)
        return NULL;
    memset(seen, 0, sizeof *seen);
    g_signal_connect(loader, "area-prepared", G_CALLBACK(onPrepared), seen);
    g_signal_connect(loader, "area-updated", G_CALLBACK(onUpdated), seen);
    GRand* rand = g_rand_new_with_seed(18);
    gboolean ok = TRUE;
    for (gsize at = 0; ok && at < size;) {
        gsize n = writes == WHOLE ? size : writes == ONE_BYTE ? 1 : (gsize)g_rand_int_range(rand, 1, 3000);
        if (n > size - at)
            n = size - at;
        ok = gdk_pixbuf_loader_write(loader, data + at, n, error);
        at += n;
    }
    g_rand_free(rand);
    *stagesBefore = seen->stages;
    if (!ok) {
        gdk_pixbuf_loader_close(loader, NULL);
        g_object_unref(loader);
        return NULL;
    }
    GdkPixbuf* pixbuf = NULL;
    if (gdk_pixbuf_loader_close(loader, error)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf) {
            g_object_ref(pixbuf);
            GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
            gchar* name = format ? gdk_pixbuf_format_get_name(format) : NULL;
            CHECK(name && strcmp(name, "zr") == 0, "the format is %s, not zr", name ? name : "unknown");
            g_free(name);
        }
    }
    g_object_unref(loader);
    return pixbuf;
}

static void checkPicture(const char* path, int progressive)
{
    int height, width;
    guint8* expected = expectedRgb(path, &height, &width);
    gsize size;
    guint8* data = readFile(path, &size);
    for (int w = WHOLE; w <= RANDOM; w++) {
        Seen seen;
        int before;
        GError* error = NULL;
        GdkPixbuf* pixbuf = load(data, size, w, w == RANDOM ? "zr" : NULL, &seen, &before, &error);
        CHECK(pixbuf, "%s, %s writes: %s", path, writeNames[w], error ? error->message : "no pixbuf");
        if (!pixbuf)
            continue;
        CHECK(gdk_pixbuf_get_width(pixbuf) == width && gdk_pixbuf_get_height(pixbuf) == height
                  && gdk_pixbuf_get_n_channels(pixbuf) == 3 && !gdk_pixbuf_get_has_alpha(pixbuf),
              "%s: pixbuf %dx%d", path, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf));
        int differ = 0;
        const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
        for (int y = 0; y < height; y++)
            differ += memcmp(pixels + (gsize)y * gdk_pixbuf_get_rowstride(pixbuf), expected + (gsize)y * width * 3,
                             (gsize)width * 3) != 0;
        CHECK(differ == 0, "%s, %s writes: %d rows differ from zrdec's", path, writeNames[w], differ);
        CHECK(seen.prepared == 1, "%s: area-prepared %d times", path, seen.prepared);
        CHECK(seen.stages >= 1 && seen.shown[seen.stages - 1] == checksum(pixbuf), "%s: final picture not shown",
              path);
        if (progressive)
            CHECK(before >= 3, "%s, %s writes: %d stages shown before close", path, writeNames[w], before);
        g_object_unref(pixbuf);
    }
    g_free(data);
    g_free(expected);
}

/* A 12-bit grey picture, made with zrenc from a PGM. */
static gchar* deepGreyStream(void)
{
    gchar* pgm = g_build_filename(work, "deep.pgm", NULL);
    gchar* zr = g_build_filename(work, "deep.zr", NULL);
    int height = 40, width = 56;
    GString* text = g_string_new(NULL);
    g_string_printf(text, "P5\n%d %d\n4095\n", width, height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            int v = (x * 4095 / width + y * 37) % 4096;
            g_string_append_c(text, (char)(v >> 8));
            g_string_append_c(text, (char)(v & 255));
        }
    g_file_set_contents(pgm, text->str, (gssize)text->len, NULL);
    g_string_free(text, TRUE);
    const char* argv[] = {zrenc, "--mode", "progressive", pgm, zr, NULL};
    g_free(run(argv));
    g_free(pgm);
    return zr;
}

static void checkRefused(const char* name, const guint8* data, gsize size, const char* message)
{
    for (int w = WHOLE; w <= ONE_BYTE; w++) {
        Seen seen;
        int before;
        GError* error = NULL;
        GdkPixbuf* pixbuf = load(data, size, w, "zr", &seen, &before, &error);
        CHECK(!pixbuf && error, "%s, %s writes: no error", name, writeNames[w]);
        if (error) {
            CHECK(error->domain == GDK_PIXBUF_ERROR && strstr(error->message, message),
                  "%s: message '%s' lacks '%s'", name, error->message, message);
            g_error_free(error);
        }
        if (pixbuf)
            g_object_unref(pixbuf);
    }
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: test_pixbuf_loader SAMPLES_DIR ZRDEC ZRENC WORK_DIR\n");
        return 2;
    }
    samples = argv[1];
    zrdec = argv[2];
    zrenc = argv[3];
    work = argv[4];
    g_mkdir_with_parents(work, 0755);

    const char* names[] = {"astronaut-progressive.zr", "camera-one-pass.zr", "gradient-progressive.zr"};
    for (int i = 0; i < 3; i++) {
        gchar* path = g_build_filename(samples, names[i], NULL);
        checkPicture(path, i == 0);
        g_free(path);
    }
    gchar* deep = deepGreyStream();
    checkPicture(deep, 0);

    gsize size;
    guint8* good = readFile(deep, &size);
    static const guint8 text[] = "plain text, not a picture";
    checkRefused("text", text, sizeof text - 1, "not a ZR stream");
    checkRefused("empty", text, 0, "empty");
    checkRefused("cut header", good, 5, "ends inside the header");
    good[2] = 1;
    checkRefused("version 1", good, size, "unsupported version 1");
    good[2] = 2;
    /* The five bits after height and width hold the sample depth. */
    guint8 depthByte = good[7];
    good[7] = (guint8)((20 << 3) | (depthByte & 7));
    checkRefused("depth 20", good, size, "unsupported sample depth 20");
    good[7] = depthByte;
    /* A stream that ends inside its body is a picture, less detailed. */
    Seen seen;
    int before;
    GError* error = NULL;
    GdkPixbuf* cut = load(good, size / 2, RANDOM, NULL, &seen, &before, &error);
    CHECK(cut && gdk_pixbuf_get_width(cut) == 56, "a stream cut in its body: %s", error ? error->message : "");
    if (cut)
        g_object_unref(cut);
    g_free(good);
    g_free(deep);

    if (failures) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    printf("all loader checks passed\n");
    return 0;
}

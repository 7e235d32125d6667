/* A host program in C built against an installed decoder through pkg-config:
 * reads the header of the stream named on the command line and decodes it. */
#include <stdio.h>
#include <stdlib.h>
#include <zr.h>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    FILE* file = fopen(argv[1], "rb");
    if (!file)
        return 2;
    static uint8_t bytes[1 << 20];
    size_t size = fread(bytes, 1, sizeof bytes, file);
    fclose(file);
    ZrPicture picture;
    int32_t status = zrDecode(bytes, size, NULL, &picture);
    printf("%s %d x %d\n", zrStatusText(status), (int)picture.width, (int)picture.height);
    zrFree(&picture);
    return status == ZR_STATUS_OK ? 0 : 1;
}

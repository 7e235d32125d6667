// zrinfo: prints the header of ZR streams without decoding the pictures.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/stream_info.h"

namespace {

const char usage[] =
    "usage: zrinfo FILE...\n"
    "Prints each ZR stream's header fields by name and the derived number of\n"
    "levels, or why a decoder would refuse the stream. Reads only the header.\n"
    "Exits with 1 when any file is refused or cannot be read.\n";

} // namespace

int main(int argc, char** argv)
{
    int files = 0;
    bool onlyFiles = false;
    for (int i = 1; i < argc; i++) {
        if (!onlyFiles && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (!onlyFiles && std::strcmp(argv[i], "--") == 0) {
            onlyFiles = true;
            continue;
        }
        if (!onlyFiles && argv[i][0] == '-' && argv[i][1] != 0) {
            std::fprintf(stderr, "zrinfo: unknown option %s\n%s", argv[i], usage);
            return 2;
        }
        files++;
    }
    if (files == 0) {
        std::fputs(usage, stderr);
        return 2;
    }

    int failures = 0;
    onlyFiles = false;
    for (int i = 1; i < argc; i++) {
        if (!onlyFiles && std::strcmp(argv[i], "--") == 0) {
            onlyFiles = true;
            continue;
        }
        if (!onlyFiles && argv[i][0] == '-' && argv[i][1] != 0)
            continue;
        StreamInfo info;
        std::string error;
        if (!inspectFile(argv[i], &info, &error)) {
            std::fprintf(stderr, "zrinfo: %s: cannot read: %s\n", argv[i], error.c_str());
            failures++;
            continue;
        }
        printStreamInfo(stdout, argv[i], info);
        if (info.status != 0)
            failures++;
    }
    std::fflush(stdout);
    return failures ? 1 : 0;
}

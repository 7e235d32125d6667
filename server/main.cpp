// Process entry of zr32serv: hands the command-line tail to serverMain.
#include "platform/windows_api.h"
#include "server/server_window.h"

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int)
{
    return serverMain(instance, previousInstance, commandLine, SW_SHOWDEFAULT);
}
#else
#include <cstdio>
#include <cstring>
#include <string>

#ifndef ZR_VERSION
#define ZR_VERSION "unknown"
#endif

namespace {

const char usage[] =
    "usage: zr32serv [--help | --version]\n"
    "The hidden-window server: waits for a display plug-in's requests on its\n"
    "window (class \"ZR32ServerClass\", title \"ZR32Server\") and runs until the\n"
    "window is closed. Ends at once, saying \"HaHa\", when such a window\n"
    "already exists. Any other arguments are ignored.\n"
    "\n"
    "options:\n"
    "  -h, --help  show this text\n"
    "  --version   show the version\n"
    "Exit status: 0 when the window closes or another server already runs,\n"
    "255 when the message loop fails.\n";

} // namespace

int main(int argc, char** argv)
{
    std::string tail;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("zr32serv (ZR tools) %s\n", ZR_VERSION);
            return 0;
        }
        if (i > 1)
            tail += ' ';
        tail += argv[i];
    }
    return serverMain(GetModuleHandleA(nullptr), nullptr, tail.data(), SW_SHOWDEFAULT);
}
#endif

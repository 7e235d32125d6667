// Process entry of zr32serv: hands the command-line tail to serverMain.
#include "platform/windows_api.h"
#include "server/server_window.h"

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int)
{
    return serverMain(instance, previousInstance, commandLine, SW_SHOWDEFAULT);
}
#else
#include <string>

int main(int argc, char** argv)
{
    std::string tail;
    for (int i = 1; i < argc; i++) {
        if (i > 1)
            tail += ' ';
        tail += argv[i];
    }
    return serverMain(GetModuleHandleA(nullptr), nullptr, tail.data(), SW_SHOWDEFAULT);
}
#endif

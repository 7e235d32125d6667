#include "server/server_window.h"

#include "server/window_procedure.h"

HINSTANCE serverInstance = nullptr;
HWND serverWindow = nullptr;

HWND createServerWindow(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = serverWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, SERVER_ICON_NAME);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = SERVER_CLASS_NAME;
    RegisterClassA(&windowClass);

    serverInstance = instance;
    serverWindow = CreateWindowExA(0, SERVER_CLASS_NAME, SERVER_WINDOW_TITLE,
                                   WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX,
                                   10, 400, 200, 100, nullptr, nullptr, instance, nullptr);
    ShowWindow(serverWindow, SW_HIDE);
    return serverWindow;
}

int runMessageLoop()
{
    MSG message = {};
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        // -1 is a failed fetch: the message is not filled, so it is not
        // dispatched again and again.
        if (got < 0)
            return -1;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int serverMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (FindWindowA(SERVER_CLASS_NAME, SERVER_WINDOW_TITLE)) {
        MessageBoxA(nullptr, "HaHa", nullptr, MB_OK);
        return 0;
    }
    createServerWindow(instance);
    return runMessageLoop();
}

// Runs zr32serv.exe (beside this program) as separate processes: the window
// is found by class and title and answers request 214 across processes; a
// second instance shows "HaHa", which is found, dismissed, and the instance
// exits with 0; WM_CLOSE ends the first with exit code 0.
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/windows/check.h"

namespace {

const DWORD kWaitMs = 30000;

struct Reply {
    bool received = false;
    ULONG_PTR code = 0;
    WPARAM sender = 0;
    std::string text;
} reply;

LRESULT CALLBACK testProgramProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        reply.received = true;
        reply.code = data->dwData;
        reply.sender = wParam;
        reply.text.assign(static_cast<const char*>(data->lpData), strnlen(static_cast<const char*>(data->lpData), data->cbData));
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

std::string programBeside(const char* name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

bool startServer(PROCESS_INFORMATION* process)
{
    std::string path = programBeside("zr32serv.exe");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process);
}

HWND waitForServerWindow()
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
        if (HWND window = FindWindowA("ZR32ServerClass", "ZR32Server"))
            return window;
        Sleep(20);
    }
    return nullptr;
}

struct BoxSearch {
    DWORD process;
    HWND box;
    std::string caption;
    bool hasText;
};

BOOL CALLBACK findTextChild(HWND child, LPARAM lParam)
{
    char text[64] = {};
    GetWindowTextA(child, text, sizeof text);
    if (std::strcmp(text, "HaHa") == 0) {
        *reinterpret_cast<bool*>(lParam) = true;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK findMessageBox(HWND window, LPARAM lParam)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (process != search->process || std::strcmp(className, "#32770") != 0)
        return TRUE;
    bool hasText = false;
    EnumChildWindows(window, findTextChild, reinterpret_cast<LPARAM>(&hasText));
    if (!hasText)
        return TRUE;
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    search->box = window;
    search->caption = caption;
    search->hasText = true;
    return FALSE;
}

HWND waitForMessageBox(DWORD process, std::string* caption)
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
        BoxSearch search = {process, nullptr, {}, false};
        EnumWindows(findMessageBox, reinterpret_cast<LPARAM>(&search));
        if (search.box) {
            *caption = search.caption;
            return search.box;
        }
        Sleep(20);
    }
    return nullptr;
}

DWORD waitForExit(const PROCESS_INFORMATION& process)
{
    DWORD code = 0xDEAD;
    if (WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

} // namespace

int main()
{
    if (FindWindowA("ZR32ServerClass", "ZR32Server")) {
        std::printf("a server is already running\n");
        return 1;
    }
    PROCESS_INFORMATION first = {};
    if (!check(startServer(&first), "zr32serv.exe starts"))
        return 1;
    HWND server = waitForServerWindow();
    if (!check(server != nullptr, "its window is found by class and title"))
        return 1;
    DWORD owner = 0;
    GetWindowThreadProcessId(server, &owner);
    check(owner == first.dwProcessId, "the window belongs to the server process");
    check(!IsWindowVisible(server), "the window is hidden");

    // Request 214 answers the "Test Program" window with a WM_COPYDATA.
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = testProgramProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TestProgClass";
    RegisterClassA(&windowClass);
    HWND testProgram = CreateWindowExA(0, "TestProgClass", "Test Program", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                       nullptr, nullptr, windowClass.hInstance, nullptr);
    COPYDATASTRUCT request = {214, 0, nullptr};
    LRESULT result = SendMessageA(server, WM_COPYDATA, reinterpret_cast<WPARAM>(testProgram),
                                  reinterpret_cast<LPARAM>(&request));
    check(result == 0, "request 214 returns 0");
    // The request names 4 bytes, and between processes only those are copied.
    std::printf("214 reply: code %u, text \"%s\"\n", unsigned(reply.code), reply.text.c_str());
    check(reply.received && reply.code == 214 && reply.sender == reinterpret_cast<WPARAM>(server)
              && reply.text == "This",
          "request 214 sends the test text's 4 bytes to \"Test Program\" from the server window");
    DestroyWindow(testProgram);

    PROCESS_INFORMATION second = {};
    if (check(startServer(&second), "a second zr32serv.exe starts")) {
        std::string caption;
        HWND box = waitForMessageBox(second.dwProcessId, &caption);
        check(box != nullptr, "the second instance shows a message box with \"HaHa\"");
        if (box) {
            check(caption == "Error", "the box has the system's default caption");
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        check(waitForExit(second) == 0, "the second instance exits with 0 once the box is dismissed");
    }
    check(FindWindowA("ZR32ServerClass", "ZR32Server") == server && IsWindow(server),
          "the first server's window is still the one found");

    PostMessageA(server, WM_CLOSE, 0, 0);
    check(waitForExit(first) == 0, "WM_CLOSE ends the server with exit code 0");
    check(!FindWindowA("ZR32ServerClass", "ZR32Server"), "the window is gone");
    return checkFailures() ? 1 : 0;
}

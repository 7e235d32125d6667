#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/layer_hooks.h"

extern char** environ;

namespace {

constexpr UINT kAbort = 1127;
constexpr UINT kDouble = WM_USER + 5;

// The helper process: one window that doubles lParam on kDouble, remembers the
// last 1127's wParam and exits with it once closed.
int abortCode = 0;

LRESULT CALLBACK helperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kAbort:
        abortCode = static_cast<int>(wParam);
        return 0;
    case kDouble:
        return lParam * 2;
    case WM_DESTROY:
        PostQuitMessage(abortCode);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

[[noreturn]] void runHelper(const std::string& cls, const std::string& title)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = helperProc;
    wc.lpszClassName = cls.c_str();
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, cls.c_str(), title.c_str(), 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    std::printf(w ? "ready\n" : "failed\n");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    _exit(static_cast<int>(msg.wParam));
}

// The test program becomes the helper when started as
// `<program> --window-helper CLASS TITLE`.
int becomeHelperIfAsked()
{
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (size_t start = 0; start < all.size();) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos)
            end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    if (args.size() == 4 && args[1] == "--window-helper")
        runHelper(args[2], args[3]);
    return 0;
}

const int helperCheck = becomeHelperIfAsked();

struct Helper {
    pid_t pid = -1;
    int output = -1;
};

Helper startHelper(const std::string& desktop, const std::string& cls, const std::string& title)
{
    int fds[2];
    Helper h;
    if (pipe(fds) != 0)
        return h;
    std::vector<std::string> env;
    for (char** e = environ; *e; e++)
        if (std::strncmp(*e, "ZR_DESKTOP=", 11) != 0)
            env.push_back(*e);
    env.push_back("ZR_DESKTOP=" + desktop);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe", flag = "--window-helper";
    std::string c = cls, t = title;
    char* argv[] = {self.data(), flag.data(), c.data(), t.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    if (posix_spawn(&h.pid, "/proc/self/exe", &actions, nullptr, argv, envp.data()) != 0)
        h.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    h.output = fds[0];
    return h;
}

bool waitReady(const Helper& h)
{
    pollfd p{h.output, POLLIN, 0};
    if (poll(&p, 1, 20000) != 1)
        return false;
    char line[16] = {};
    return read(h.output, line, sizeof line - 1) > 0 && std::strncmp(line, "ready", 5) == 0;
}

TEST(CrossProcess, FindPostSendAndCloseAnotherProcessWindow)
{
    (void)helperCheck;
    std::string desktop = "cross-" + std::to_string(getpid());
    std::string cls = "ZR32ServerClass", title = "ZR32Server";
    zrSetDesktopName(desktop.c_str());
    EXPECT_EQ(FindWindowA(cls.c_str(), title.c_str()), nullptr);

    Helper h = startHelper(desktop, cls, title);
    ASSERT_GT(h.pid, 0);
    ASSERT_TRUE(waitReady(h));

    HWND w = FindWindowA(cls.c_str(), title.c_str());
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(FindWindowA("zr32serverclass", "zr32server"), w);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    EXPECT_EQ(pid, static_cast<DWORD>(h.pid));
    EXPECT_TRUE(IsWindow(w));
    // Another desktop does not see it.
    zrSetDesktopName("elsewhere");
    EXPECT_EQ(FindWindowA(cls.c_str(), title.c_str()), nullptr);
    zrSetDesktopName(desktop.c_str());

    EXPECT_EQ(SendMessageA(w, kDouble, 0, 21), 42);
    COPYDATASTRUCT data{201, 0, nullptr};
    EXPECT_FALSE(PostMessageA(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
    EXPECT_TRUE(PostMessageA(w, kAbort, 9, 0));
    EXPECT_TRUE(PostMessageA(w, WM_CLOSE, 0, 0));

    int status = 0;
    ASSERT_EQ(waitpid(h.pid, &status, 0), h.pid);
    close(h.output);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 9);

    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(PostMessageA(w, WM_CLOSE, 0, 0));
    EXPECT_EQ(FindWindowA(cls.c_str(), title.c_str()), nullptr);
    zrSetDesktopName(nullptr);
}

TEST(CrossProcess, LocalWindowHidesNameFromSecondOwner)
{
    std::string desktop = "second-" + std::to_string(getpid());
    zrSetDesktopName(desktop.c_str());
    Helper h = startHelper(desktop, "TwiceClass", "Twice");
    ASSERT_GT(h.pid, 0);
    ASSERT_TRUE(waitReady(h));
    HWND first = FindWindowA("TwiceClass", "Twice");
    ASSERT_NE(first, nullptr);

    // A second window of the same name here: this process finds its own first,
    // and the first owner keeps the name for everyone else.
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "TwiceClass";
    RegisterClassA(&wc);
    HWND local = CreateWindowExA(0, "TwiceClass", "Twice", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(FindWindowA("TwiceClass", "Twice"), local);
    DestroyWindow(local);
    EXPECT_EQ(FindWindowA("TwiceClass", "Twice"), first);

    EXPECT_TRUE(PostMessageA(first, WM_CLOSE, 0, 0));
    int status = 0;
    waitpid(h.pid, &status, 0);
    close(h.output);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    zrSetDesktopName(nullptr);
}

} // namespace

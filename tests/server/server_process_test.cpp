// Start-up and ending of the server: the single-instance rule (also across
// processes), the hidden window, and the exit code.
#include <chrono>
#include <string>
#include <thread>

#include <limits.h>
#include <unistd.h>

#include "server/server_window.h"
#include "tests/server/server_fixture.h"
#include "tests/support/tool_run.h"

namespace {

std::string serverProgram()
{
    char path[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, length > 0 ? size_t(length) : 0);
    // build/tests/test_server -> build/server/zr32serv
    std::string build = self.substr(0, self.rfind('/'));
    build = build.substr(0, build.rfind('/'));
    return build + "/server/zr32serv";
}

struct ProgramRun {
    int exitCode = -1;
    std::string output; // standard output, then standard error
};

ProgramRun runServerProgram(const std::string& desktop)
{
    ToolCall call;
    call.program = serverProgram();
    call.environment = {{"ZR_DESKTOP", desktop}};
    call.timeoutSeconds = 20;
    ToolRun run = runTool(call);
    return {run.exitCode, run.out + run.err};
}

TEST_F(ServerTest, WindowIsHiddenAndFoundByClassAndTitle)
{
    EXPECT_EQ(FindWindowA("ZR32ServerClass", "ZR32Server"), window);
    EXPECT_EQ(serverWindow, window);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(FindWindowA("ZR32ServerClass", "Other"), nullptr);
}

TEST_F(ServerTest, SecondServerInProcessShowsHaHaAndCreatesNothing)
{
    long boxes = zrMessageBoxCount();
    int result = -1;
    std::thread second([&] {
        result = serverMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
    });
    second.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(zrMessageBoxCount(), boxes + 1);
    EXPECT_STREQ(zrLastMessageBoxText(), "HaHa");
    EXPECT_EQ(serverWindow, window);
    EXPECT_EQ(FindWindowA("ZR32ServerClass", "ZR32Server"), window);
}

TEST_F(ServerTest, SecondServerProcessPrintsHaHaAndExitsWithZero)
{
    ProgramRun run = runServerProgram(privateDesktopName());
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("HaHa"), std::string::npos) << run.output;
    // The first server is untouched and still answers.
    EXPECT_EQ(FindWindowA("ZR32ServerClass", "ZR32Server"), window);
    EXPECT_EQ(sendRequest(window, REQUEST_RELEASE_FRAME, nullptr), 0);
}

TEST(ServerProcess, ClosingTheWindowEndsTheProcessWithZero)
{
    std::string desktop = privateDesktopName() + "-alone";
    ProgramRun run;
    std::thread child([&] { run = runServerProgram(desktop); });

    zrSetDesktopName(desktop.c_str());
    HWND remote = waitForServerWindow(10000);
    usePrivateDesktop();
    ASSERT_NE(remote, nullptr);
    EXPECT_TRUE(PostMessageA(remote, WM_CLOSE, 0, 0));
    child.join();
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.find("HaHa"), std::string::npos) << run.output;
}

TEST(ServerProcess, ClosingTheWindowInProcessReturnsZero)
{
    usePrivateDesktop();
    ServerThread server;
    ASSERT_TRUE(server.start());
    EXPECT_EQ(SendMessageA(server.window, WM_CLOSE, 0, 0), 0);
    server.join();
    EXPECT_EQ(server.exitCode, 0);
    EXPECT_FALSE(IsWindow(server.window));
    EXPECT_EQ(FindWindowA("ZR32ServerClass", "ZR32Server"), nullptr);
}

} // namespace

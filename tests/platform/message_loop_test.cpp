#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/layer_hooks.h"

namespace {

constexpr UINT kEnterNested = WM_USER + 1;
constexpr UINT kLeaveNested = WM_USER + 2;
constexpr UINT kQuestion = WM_USER + 3;
constexpr UINT kCallBack = WM_USER + 4;
constexpr UINT kAbort = 1127;

std::atomic<int> nesting{0};
std::atomic<bool> nestedReady{false};
DWORD ownerThread = 0;
DWORD answeringThread = 0;
int nestingWhenAsked = -1;
HWND workerWindow = nullptr;
std::vector<UINT> dispatched;
int nestedQuitCode = -1;

// Enters a nested loop like the byte source does: it ends on kLeaveNested or
// on the quit message, which it posts again.
void nestedLoop()
{
    nesting++;
    nestedReady = true;
    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            nestedQuitCode = static_cast<int>(msg.wParam);
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (msg.message == kLeaveNested)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    nesting--;
}

LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kEnterNested:
        nestedLoop();
        return 0;
    case kQuestion:
        answeringThread = GetCurrentThreadId();
        nestingWhenAsked = nesting;
        // Ask the sender's own window back while the sender waits.
        return 70 + (workerWindow ? SendMessageA(workerWindow, kCallBack, 0, 0) : 0);
    default:
        if (message >= WM_USER)
            dispatched.push_back(message);
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK workerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kCallBack)
        return 7;
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeWindow(const char* cls, WNDPROC proc)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = cls;
    RegisterClassA(&wc);
    return CreateWindowExA(0, cls, cls, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

void drain()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(MessageLoop, CrossThreadSendReachesNestedLoop)
{
    HWND owner = makeWindow("NestOwnerClass", ownerProc);
    ASSERT_NE(owner, nullptr);
    ownerThread = GetCurrentThreadId();
    nestedReady = false;
    LRESULT answer = 0;
    DWORD senderThread = 0;

    std::thread sender([&] {
        senderThread = GetCurrentThreadId();
        workerWindow = makeWindow("NestWorkerClass", workerProc);
        while (!nestedReady)
            std::this_thread::yield();
        // Blocks until the owner thread, waiting in its nested loop, answers.
        answer = SendMessageA(owner, kQuestion, 0, 0);
        PostMessageA(owner, kLeaveNested, 0, 0);
        DestroyWindow(workerWindow);
    });

    ASSERT_TRUE(PostMessageA(owner, kEnterNested, 0, 0));
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    DispatchMessageA(&msg); // runs the nested loop until kLeaveNested
    sender.join();

    EXPECT_EQ(answer, 77);
    EXPECT_EQ(answeringThread, ownerThread);
    EXPECT_NE(senderThread, ownerThread);
    EXPECT_EQ(nestingWhenAsked, 1);
    workerWindow = nullptr;
    DestroyWindow(owner);
    drain();
}

TEST(MessageLoop, PostedMessagesComeBeforeQuit)
{
    HWND w = makeWindow("QuitOrderClass", ownerProc);
    PostQuitMessage(5);
    PostMessageA(w, WM_USER + 9, 1, 2);
    PostMessageA(nullptr, kAbort, 0, 0); // a thread message

    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 9));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 2);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, kAbort);
    EXPECT_EQ(DispatchMessageA(&msg), 0); // no window: nothing runs

    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(w);
}

TEST(MessageLoop, NestedLoopPassesQuitOutward)
{
    HWND w = makeWindow("QuitNestClass", ownerProc);
    dispatched.clear();
    nestedQuitCode = -1;
    PostMessageA(w, kEnterNested, 0, 0);
    PostMessageA(w, WM_USER + 20, 0, 0);
    PostQuitMessage(3);

    // The outer loop of a program.
    MSG msg;
    int outerMessages = 0;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        outerMessages++;
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(outerMessages, 1);
    EXPECT_EQ(dispatched, (std::vector<UINT>{WM_USER + 20})); // handled inside the nested loop
    EXPECT_EQ(nestedQuitCode, 3);
    EXPECT_EQ(msg.wParam, 3u);
    DestroyWindow(w);
}

TEST(MessageLoop, ThreadQuitAndFilters)
{
    HWND w = makeWindow("FilterClass", ownerProc);
    PostMessageA(w, WM_USER + 30, 0, 0);
    PostMessageA(nullptr, WM_USER + 31, 0, 0);
    MSG msg;
    // Thread messages only.
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 31));
    // A message range that excludes the remaining one.
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 40, WM_USER + 50, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, w, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, w, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 30));

    std::thread([tid = GetCurrentThreadId()] { PostThreadMessageA(tid, WM_QUIT, 4, 0); }).join();
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_FALSE(PostThreadMessageA(0xFFFFFFF0u, WM_USER, 0, 0));
    DestroyWindow(w);
}

TEST(MessageLoop, WindowOfAnotherThreadCannotBeDestroyedFromHere)
{
    HWND w = nullptr;
    std::atomic<bool> made{false}, done{false};
    std::thread owner([&] {
        w = makeWindow("ForeignClass", workerProc);
        made = true;
        MSG msg;
        while (!done) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            std::this_thread::yield();
        }
        DestroyWindow(w);
    });
    while (!made)
        std::this_thread::yield();
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_EQ(SendMessageA(w, kCallBack, 0, 0), 7);
    done = true;
    owner.join();
    EXPECT_FALSE(IsWindow(w));
}

} // namespace

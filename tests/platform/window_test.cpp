#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/layer_hooks.h"

namespace {

std::vector<UINT> seen;
std::string createdTitle;
LRESULT createResult = 0;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    seen.push_back(message);
    if (message == WM_CREATE) {
        createdTitle = reinterpret_cast<CREATESTRUCTA*>(lParam)->lpszName;
        return createResult;
    }
    if (message == WM_COPYDATA) {
        auto* data = reinterpret_cast<COPYDATASTRUCT*>(lParam);
        data->lpData = nullptr; // the sender sees the change
        return static_cast<LRESULT>(data->dwData) + 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void registerClass(const char* name)
{
    WNDCLASSA wc{};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    wc.lpfnWndProc = recordingProc;
    wc.hIcon = LoadIconA(nullptr, "SomeIcon");
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
    wc.lpszClassName = name;
    RegisterClassA(&wc);
}

HWND create(const char* cls, const char* title)
{
    return CreateWindowExA(0, cls, title, WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX, 10, 400, 200,
                           100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

TEST(Window, LifecycleFromCreationToClose)
{
    registerClass("LifeClass");
    WNDCLASSA again{};
    again.lpfnWndProc = recordingProc;
    again.lpszClassName = "lifeclass";
    EXPECT_EQ(RegisterClassA(&again), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    seen.clear();
    HWND w = create("LifeClass", "Life Title");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
    EXPECT_EQ(createdTitle, "Life Title");
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_FALSE(ShowWindow(w, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(ShowWindow(w, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(w));

    // Found by class and title, without regard to case; a null part matches all.
    EXPECT_EQ(FindWindowA("LifeClass", "Life Title"), w);
    EXPECT_EQ(FindWindowA("LIFECLASS", "life title"), w);
    EXPECT_EQ(FindWindowA("LifeClass", nullptr), w);
    EXPECT_EQ(FindWindowA(nullptr, "Life Title"), w);
    EXPECT_EQ(FindWindowA("LifeClass", "Other Title"), nullptr);
    EXPECT_FALSE(UnregisterClassA("LifeClass", nullptr));

    // WM_CLOSE reaches DefWindowProcA, which destroys the window.
    seen.clear();
    EXPECT_EQ(SendMessageA(w, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(FindWindowA("LifeClass", "Life Title"), nullptr);
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_FALSE(PostMessageA(w, WM_USER, 0, 0));
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, 0), 0);
    EXPECT_TRUE(UnregisterClassA("LifeClass", nullptr));
}

TEST(Window, PostedMessagesDieWithTheWindow)
{
    registerClass("DropClass");
    HWND w = create("DropClass", "Drop");
    HWND other = create("DropClass", "Kept");
    ASSERT_TRUE(PostMessageA(w, WM_USER + 1, 0, 0));
    ASSERT_TRUE(PostMessageA(other, WM_USER + 2, 0, 0));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 0, 0));
    EXPECT_TRUE(DestroyWindow(w));
    std::vector<UINT> left;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        left.push_back(msg.message);
    EXPECT_EQ(left, (std::vector<UINT>{WM_USER + 2, WM_USER + 3}));
    DestroyWindow(other);
    EXPECT_TRUE(UnregisterClassA("DropClass", nullptr));
}

TEST(Window, CreationRefusedByProcedure)
{
    registerClass("RefuseClass");
    createResult = -1;
    seen.clear();
    HWND w = create("RefuseClass", "Refused");
    createResult = 0;
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_EQ(FindWindowA("RefuseClass", "Refused"), nullptr);
    EXPECT_EQ(create("NoSuchClass", "x"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
}

TEST(Window, CopyDataIsSentNotPosted)
{
    registerClass("CopyClass");
    HWND w = create("CopyClass", "Copy");
    ASSERT_NE(w, nullptr);
    char text[] = "payload";
    COPYDATASTRUCT data{215, sizeof text, text};
    EXPECT_EQ(SendMessageA(w, WM_COPYDATA, reinterpret_cast<WPARAM>(w), reinterpret_cast<LPARAM>(&data)), 216);
    EXPECT_EQ(data.lpData, nullptr);
    EXPECT_FALSE(PostMessageA(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
    EXPECT_TRUE(DestroyWindow(w));
}

} // namespace

// Message boxes without a screen: the caption and text go to standard error
// and the box is dismissed with OK at once.
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/layer_hooks.h"

namespace {

struct LastBox {
    std::mutex lock;
    std::string text;
    std::string caption;
    long count = 0;
};

LastBox& lastBox()
{
    static LastBox* box = new LastBox;
    return *box;
}

// Returned strings stay valid until the next box on the calling thread.
thread_local std::string returnedText;
thread_local std::string returnedCaption;

} // namespace

extern "C" {

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    const char* shownCaption = caption ? caption : "Error";
    const char* shownText = text ? text : "";
    std::fprintf(stderr, "[%s] %s\n", shownCaption, shownText);
    std::fflush(stderr);
    LastBox& box = lastBox();
    std::lock_guard<std::mutex> hold(box.lock);
    box.text = shownText;
    box.caption = shownCaption;
    box.count++;
    return IDOK;
}

const char* zrLastMessageBoxText(void)
{
    LastBox& box = lastBox();
    std::lock_guard<std::mutex> hold(box.lock);
    returnedText = box.text;
    return returnedText.c_str();
}

const char* zrLastMessageBoxCaption(void)
{
    LastBox& box = lastBox();
    std::lock_guard<std::mutex> hold(box.lock);
    returnedCaption = box.caption;
    return returnedCaption.c_str();
}

long zrMessageBoxCount(void)
{
    LastBox& box = lastBox();
    std::lock_guard<std::mutex> hold(box.lock);
    return box.count;
}
}

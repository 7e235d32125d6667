#include "platform/rendezvous.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "platform/layer_hooks.h"
#include "platform/names.h"
#include "platform/window_state.h"

struct Rendezvous {
    HWND window;
    int fd;
    std::atomic<bool> closing{false};
    std::thread listener;
};

namespace {

constexpr uint32_t kMagic = 0x5A525744; // "ZRWD"
enum : uint32_t { kQuery = 1, kPost = 2, kSend = 3 };

struct Request {
    uint32_t magic;
    uint32_t op;
    uint64_t window;
    uint32_t message;
    uint32_t reserved;
    uint64_t wParam;
    int64_t lParam;
};

struct Reply {
    uint32_t ok;
    uint32_t process;
    uint64_t window;
    int64_t result;
};

struct Desktop {
    std::mutex lock;
    std::string name;
};

Desktop& desktop()
{
    static Desktop* d = [] {
        Desktop* made = new Desktop;
        const char* env = std::getenv("ZR_DESKTOP");
        made->name = env && *env ? env : "default";
        return made;
    }();
    return *d;
}

uint64_t fnv1a(const std::string& text)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string addressFor(const std::string& className, const std::string& title)
{
    std::string desk;
    {
        Desktop& d = desktop();
        std::lock_guard<std::mutex> hold(d.lock);
        desk = d.name;
    }
    char name[100];
    std::snprintf(name, sizeof name, "zr-window/%u/%016llx/%016llx/%016llx", static_cast<unsigned>(getuid()),
                  static_cast<unsigned long long>(fnv1a(desk)),
                  static_cast<unsigned long long>(fnv1a(lowerName(className.c_str()))),
                  static_cast<unsigned long long>(fnv1a(lowerName(title.c_str()))));
    return std::string(1, '\0') + name;
}

socklen_t fillAddress(sockaddr_un* sa, const std::string& address)
{
    std::memset(sa, 0, sizeof *sa);
    sa->sun_family = AF_UNIX;
    std::memcpy(sa->sun_path, address.data(), address.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
}

bool transfer(int fd, void* data, size_t size, bool writing)
{
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = writing ? send(fd, p, size, MSG_NOSIGNAL) : recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool samePeerUser(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
}

void answer(int fd, Reply reply)
{
    transfer(fd, &reply, sizeof reply, true);
    close(fd);
}

void serveSend(int fd, Request request)
{
    currentQueue();
    WindowState& s = windowState();
    Reply reply{0, static_cast<uint32_t>(getpid()), request.window, 0};
    {
        std::unique_lock<std::mutex> hold(s.lock);
        Window* w = findWindow(s, reinterpret_cast<HWND>(static_cast<uintptr_t>(request.window)));
        if (w && !w->remote && !w->destroying) {
            reply.result = sendToThread(s, w, request.message, static_cast<WPARAM>(request.wParam),
                                        static_cast<LPARAM>(request.lParam), hold);
            reply.ok = 1;
        }
    }
    answer(fd, reply);
}

void serve(Rendezvous* r, int fd)
{
    timeval limit{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    Request request;
    if (!samePeerUser(fd) || !transfer(fd, &request, sizeof request, false) || request.magic != kMagic) {
        close(fd);
        return;
    }
    uint64_t own = reinterpret_cast<uintptr_t>(r->window);
    Reply reply{0, static_cast<uint32_t>(getpid()), own, 0};
    if (request.op == kQuery) {
        reply.ok = 1;
    } else if (request.op == kPost && request.window == own && !carriesPointers(request.message)) {
        WindowState& s = windowState();
        std::lock_guard<std::mutex> hold(s.lock);
        Window* w = findWindow(s, r->window);
        if (w && !w->remote && !w->destroying)
            reply.ok = postToWindow(s, w, request.message, static_cast<WPARAM>(request.wParam),
                                    static_cast<LPARAM>(request.lParam));
    } else if (request.op == kSend && request.window == own && !carriesPointers(request.message)) {
        // The window's thread may take its time: answer from a thread of its own.
        std::thread(serveSend, fd, request).detach();
        return;
    }
    answer(fd, reply);
}

void acceptLoop(Rendezvous* r)
{
    for (;;) {
        int fd = accept4(r->fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (r->closing.load())
            break;
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            break;
        }
        serve(r, fd);
    }
}

bool exchange(const std::string& address, const Request& request, Reply* reply)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un sa;
    socklen_t len = fillAddress(&sa, address);
    Request copy = request;
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0 && transfer(fd, &copy, sizeof copy, true) &&
              transfer(fd, reply, sizeof *reply, false);
    close(fd);
    return ok;
}

} // namespace

extern "C" void zrSetDesktopName(const char* name)
{
    Desktop& d = desktop();
    std::lock_guard<std::mutex> hold(d.lock);
    d.name = name && *name ? name : "default";
}

Rendezvous* openRendezvous(HWND window, const std::string& className, const std::string& title)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    sockaddr_un sa;
    socklen_t len = fillAddress(&sa, addressFor(className, title));
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(fd, 16) != 0) {
        close(fd);
        return nullptr;
    }
    Rendezvous* r = new Rendezvous;
    r->window = window;
    r->fd = fd;
    r->listener = std::thread(acceptLoop, r);
    return r;
}

void closeRendezvous(Rendezvous* r)
{
    if (!r)
        return;
    r->closing.store(true);
    shutdown(r->fd, SHUT_RDWR);
    r->listener.join();
    close(r->fd);
    delete r;
}

bool findRemoteWindow(const std::string& className, const std::string& title, RemoteWindow* found)
{
    std::string address = addressFor(className, title);
    Reply reply{};
    if (!exchange(address, Request{kMagic, kQuery, 0, 0, 0, 0, 0}, &reply) || !reply.ok)
        return false;
    found->address = address;
    found->handle = reply.window;
    found->process = reply.process;
    return true;
}

bool remoteAlive(const RemoteWindow& window)
{
    Reply reply{};
    return exchange(window.address, Request{kMagic, kQuery, 0, 0, 0, 0, 0}, &reply) && reply.ok &&
           reply.window == window.handle && reply.process == window.process;
}

bool remotePost(const RemoteWindow& window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Reply reply{};
    Request request{kMagic, kPost, window.handle, message, 0, static_cast<uint64_t>(wParam),
                    static_cast<int64_t>(lParam)};
    return exchange(window.address, request, &reply) && reply.ok && reply.process == window.process;
}

bool remoteSend(const RemoteWindow& window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    Reply reply{};
    Request request{kMagic, kSend, window.handle, message, 0, static_cast<uint64_t>(wParam),
                    static_cast<int64_t>(lParam)};
    if (!exchange(window.address, request, &reply) || !reply.ok || reply.process != window.process)
        return false;
    *result = static_cast<LRESULT>(reply.result);
    return true;
}

// How windows are found and reached across processes: every window listens
// on an abstract local socket named after the user, the desktop, its class
// and its title. Requests carry no pointers: a query, a posted message, or a
// sent message with its result.
#pragma once
#include <cstdint>
#include <string>

#include "platform/windows_api.h"

struct Rendezvous;

// Starts listening for `window`. Null when another window (of any process)
// already holds the name, or when no socket can be made.
Rendezvous* openRendezvous(HWND window, const std::string& className, const std::string& title);
// Stops listening and frees the name. Call without the window lock held.
void closeRendezvous(Rendezvous* rendezvous);

struct RemoteWindow {
    std::string address;
    uint64_t handle;
    DWORD process;
};

bool findRemoteWindow(const std::string& className, const std::string& title, RemoteWindow* found);
// Whether the remote window still exists.
bool remoteAlive(const RemoteWindow& window);
bool remotePost(const RemoteWindow& window, UINT message, WPARAM wParam, LPARAM lParam);
bool remoteSend(const RemoteWindow& window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

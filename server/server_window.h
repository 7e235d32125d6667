// The server's start-up: single-instance test, window class, hidden window
// and main message loop.
#pragma once
#include "platform/windows_api.h"

#define SERVER_CLASS_NAME "ZR32ServerClass"
#define SERVER_WINDOW_TITLE "ZR32Server"
#define SERVER_ICON_NAME "ZR32ServerIcon"

// Written once during start-up.
extern HINSTANCE serverInstance;
extern HWND serverWindow;

// Registers the class, creates the hidden window and stores both values.
// The window's procedure runs on the calling thread.
HWND createServerWindow(HINSTANCE instance);

// Dispatches the calling thread's messages until the quit message; returns
// its exit code.
int runMessageLoop();

// The program's main entry; returns the exit code. Only `instance` is used.
// Runs on the calling thread until the window is destroyed or a quit message
// arrives, so it may be called on a thread of its own.
int serverMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

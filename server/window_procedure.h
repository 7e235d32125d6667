// The server window's procedure: every message and WM_COPYDATA request.
#pragma once
#include "platform/windows_api.h"

LRESULT CALLBACK serverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

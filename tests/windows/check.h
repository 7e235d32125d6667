// Checks for the small Windows test programs: each prints one line and
// counts failures.
#pragma once
#include <cstdio>

inline int& checkFailures()
{
    static int failures = 0;
    return failures;
}

inline bool check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    std::fflush(stdout);
    if (!ok)
        checkFailures()++;
    return ok;
}

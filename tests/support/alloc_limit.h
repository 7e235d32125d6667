// Sets the process-wide allocation limit for one scope, so that a test's
// outcome does not depend on the machine's memory.
#pragma once
#include <cstddef>

#include "codec/core/alloc.h"

class ScopedAllocLimit {
public:
    explicit ScopedAllocLimit(size_t bytes) : saved_(allocLimit()) { setAllocLimit(bytes); }
    ~ScopedAllocLimit() { setAllocLimit(saved_); }
    ScopedAllocLimit(const ScopedAllocLimit&) = delete;
    ScopedAllocLimit& operator=(const ScopedAllocLimit&) = delete;

private:
    size_t saved_;
};

// The limit the host-independent tests decode under.
constexpr size_t kTestAllocLimit = size_t(1) << 30;

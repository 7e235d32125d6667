// The streaming byte source: delivers the client's bytes one at a time,
// waiting in a nested message loop while none are available, and makes the
// periodic partial frames.
#pragma once
#include <cstdint>

// ByteSourceFn over the server's AsyncDecodeRequest copy. Returns 0 with the
// next byte in *slot, or 1 once the stream ends (abort or quit).
int32_t serverByteSource(void* context, uint32_t* slot);

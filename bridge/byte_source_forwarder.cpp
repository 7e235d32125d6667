// The decoder's byte source for streaming requests: forwards every byte
// request to the server's byte-source entry registered with InitThunk.
#include "bridge/bridge_state.h"
#include "bridge/zr32ut.h"

extern "C" ZR32UT_API int32_t _ZrDecompressCBFunc(void* context, uint32_t* slot)
{
    ByteSourceFn source = bridgeState().registeredByteSource;
    // Without a registered source there are no more bytes.
    return source ? source(context, slot) : 1;
}

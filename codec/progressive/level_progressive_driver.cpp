#include "codec/progressive/level_progressive_driver.h"

#include "codec/core/session.h"

// Placeholder until the level-progressive driver lands.
int32_t decodeLevelProgressive(DecodeSession* session)
{
    (void)session;
    return 1;
}

uint8_t* partialPicture(DecodeSession* session, int32_t*, int32_t*, int32_t*, int32_t*, int32_t*, int32_t*)
{
    if (session->status != 0 && session->status != 12)
        return nullptr;
    session->status = session->phase == 5 ? 11 : 12;
    return nullptr;
}

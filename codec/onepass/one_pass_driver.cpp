#include "codec/onepass/one_pass_driver.h"

#include "codec/core/session.h"

// Placeholder until the one-pass driver lands: decodes no detail.
int32_t decodeOnePass(DecodeSession* session)
{
    (void)session;
    return 1;
}

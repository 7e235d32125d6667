#include "bridge/bridge_state.h"

namespace {
BridgeState state;
}

BridgeState& bridgeState()
{
    return state;
}

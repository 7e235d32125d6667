#include "codec/core/decoder.h"
// Placeholder: the entry points land with the header reader.

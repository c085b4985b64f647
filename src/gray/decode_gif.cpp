#include "gray/decode.h"

#include "io/console.h"

int decode_gif(ByteStream&, GraySink&) { return fail("Error - gif: not yet\n"); }

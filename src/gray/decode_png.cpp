#include "gray/decode.h"

#include "io/console.h"

int decode_png(ByteStream&, GraySink&) { return fail("Error - png: not yet\n"); }

#include "gray/decode.h"

#include "io/console.h"

int decode_jpeg(ByteStream&, int, GraySink&) { return fail("Error - jpeg: not yet\n"); }

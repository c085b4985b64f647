#include "gray/decode.h"

#include "io/console.h"

int decode_webp(ByteStream&, GraySink&) { return fail("Error - webp: not yet\n"); }

#include "gray/decode.h"

#include "io/console.h"

int decode_bmp_picture(ByteStream&, GraySink&) { return fail("Error - BMP: not yet\n"); }

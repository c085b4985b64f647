#include "gray/decode.h"

#include "io/console.h"

int decode_wic(const std::string&, ByteStream&, PictureFormat, int, GraySink&) { return fail("Error - WIC: not yet\n"); }

#include "make_pictures.h"

bool write_bmp_file(const std::string&, int, int, const Rgba&, const BmpOptions&) { return false; }

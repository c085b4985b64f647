#include "make_pictures.h"

bool write_jpeg(const std::string&, int, int, const Rgba&, const JpegOptions&) { return false; }

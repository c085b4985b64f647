#include "make_pictures.h"

bool write_png(const std::string&, int, int, const Rgba&, const PngOptions&) { return false; }
bool write_gif(const std::string&, int, int, const Rgba&, bool) { return false; }
bool write_webp(const std::string&, int, int, const Rgba&, bool) { return false; }

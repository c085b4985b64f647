// libFuzzer entry point; the target itself is in targets.cpp.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz_bmp_import(std::span<const std::uint8_t>(data, size));
}

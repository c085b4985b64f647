// The fuzz targets: each takes untrusted bytes through the same functions the
// tool uses and aborts when a property breaks. libFuzzer drives them (the
// fuzz_*.cpp entry points) and the test suite replays the corpora and the
// crashers folder through them.
#pragma once

#include <cstdint>
#include <span>

// The bytes as a BMP file, through the whole one-file import conversion.
int fuzz_bmp_import(std::span<const std::uint8_t> data);

// The bytes as a database, through record splitting, unpacking and the
// one-record export conversion into a memory stream.
int fuzz_pdb_export(std::span<const std::uint8_t> data);

// A picture made from the bytes packs, goes through a database and unpacks
// unchanged; the bytes as a BMP that imports export and import again to the
// same record.
int fuzz_round_trip(std::span<const std::uint8_t> data);

#pragma once
// Raw DEFLATE, shared by the ZIP and PNG writers.
#include <cstdint>
#include <span>
#include <vector>

// Raw DEFLATE (no zlib header, 32 KB window) of `data`, appended to `out`. False on failure.
bool DeflateRaw(std::span<const uint8_t> data, std::vector<uint8_t>& out);

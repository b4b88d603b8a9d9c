#pragma once
// The layout of a PE image (program or DLL) as its headers give it.
#include <cstdint>
#include <span>

// What the image headers say about a module (RVAs).
struct TPeLayout {
    bool Is64 = false;
    uint64_t ImageBase = 0;
    uint32_t SizeOfImage = 0;
    uint32_t CodeBase = 0;
    uint32_t CodeTop = 0;
    uint32_t DataBase = 0;
    uint32_t DataTop = 0;
    uint32_t EntryPoint = 0;
};

// Reads the DOS, NT and section headers at the start of an image (mapped or file; the section
// table holds RVAs either way). False for anything that is no PE image.
bool ParsePeLayout(std::span<const uint8_t> headers, TPeLayout& layout);

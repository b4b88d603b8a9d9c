#pragma once
// PNG files of screenshots: a 256-colour palette image, or 16 grey levels to meet a size target.
#include <cstdint>
#include <vector>

#include "crashreport/bitmap/Bitmap32.h"

// Modes: 0 256 colours; 1 16 grey levels; 2..5 256 colours unless the file would exceed
// 51200, 102400, 204800 or 307200 bytes, then 16 grey levels if that file is smaller.
// Other values act as mode 0.
inline constexpr int PngModeCount = 6;

// The size limit of a mode, 0 for none.
uint32_t PngSizeLimit(int mode);

// The mode the send pipeline uses for a `ScrShotDepth` setting.
int PngModeFromDepth(int64_t scrShotDepth);

// The whole PNG file. Empty when the picture is empty (PNG has no 0-pixel images) or the
// compression failed.
std::vector<uint8_t> PngBytes(const TBitmap32& bmp, int mode);

// The two encodings the modes choose from.
std::vector<uint8_t> PalettePngBytes(const TBitmap32& bmp);
std::vector<uint8_t> GreyPngBytes(const TBitmap32& bmp);

// Grey value (77 R + 151 G + 28 B) / 256 and the index of its nearest of the 16 grey levels.
uint8_t GreyLevelIndex(uint32_t pixel);
extern const uint8_t PngGreyLevels[16];

#pragma once
// Resampling of 32-bit pictures with the Mitchell-Netravali filter (B = C = 1/3), separably,
// with 16.16 fixed-point weights; used to fit screenshots into the assistant forms.
#include "crashreport/bitmap/Bitmap32.h"

// A new picture of the given size (empty for a size of 0 or over the limit). A direction whose
// size does not change is copied, not filtered. The fourth byte of every result pixel is 0.
TBitmap32 ZoomBitmap(const TBitmap32& src, int32_t width, int32_t height);

// The filter kernel, for tests: non-zero on (-2, 2).
double MitchellNetravali(double x);

#include "crashreport/delivery/PrintReport.h"

#include <algorithm>
#include <cstdint>

namespace {

// Hundredths of a millimetre in device pixels.
int Pixels(int hundredthsOfMm, int dpi) {
    return int(int64_t(hundredthsOfMm) * dpi / 2540);
}

} // namespace

TPageRect PrintMargins(const TPrinterPage& page) {
    TPageRect r;
    r.Left = Pixels(2000, page.DpiX) - page.OffsetX;
    r.Top = Pixels(1000, page.DpiY) - page.OffsetY;
    r.Right = page.SheetWidth - Pixels(1000, page.DpiX) - page.OffsetX;
    r.Bottom = page.SheetHeight - Pixels(1000, page.DpiY) - page.OffsetY;
    // A printer whose unprintable edge is wider than the margin prints from its edge.
    r.Left = std::clamp(r.Left, 0, page.PrintableWidth);
    r.Top = std::clamp(r.Top, 0, page.PrintableHeight);
    r.Right = std::clamp(r.Right, r.Left, page.PrintableWidth);
    r.Bottom = std::clamp(r.Bottom, r.Top, page.PrintableHeight);
    return r;
}

std::vector<std::string> PrintLines(std::string_view report) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (;;) {
        const size_t end = report.find("\r\n", at);
        std::string line(
            report.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        lines.push_back(line.empty() ? " " : line);
        if (end == std::string_view::npos) break;
        at = end + 2;
    }
    return lines;
}

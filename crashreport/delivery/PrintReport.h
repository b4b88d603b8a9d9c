#pragma once
// The printed bug report's page: the margins on the sheet, and the report's lines. Portable; the
// measuring and drawing are PrintReportWin32's.
#include <string>
#include <string_view>
#include <vector>

// A printer page in device pixels: the sheet, and where the printable area starts on it.
struct TPrinterPage {
    int DpiX = 0, DpiY = 0;
    int SheetWidth = 0, SheetHeight = 0; // the physical page
    int OffsetX = 0, OffsetY = 0;        // the printable area's corner on the sheet
    int PrintableWidth = 0, PrintableHeight = 0;
};

struct TPageRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// 1 cm at the top and bottom, 2 cm on the left and 1 cm on the right of the sheet, in the
// coordinates of the printable area (which start at its corner), kept inside that area.
TPageRect PrintMargins(const TPrinterPage& page);

// The report split at CR LF; an empty line becomes one blank, so it still takes a line's height.
std::vector<std::string> PrintLines(std::string_view report);

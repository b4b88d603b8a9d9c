#pragma once
// The "disassembling" section's text: an analysed function listed area by area, with source lines.
#include <cstdint>
#include <string>

#include "crashreport/x86/FunctionAnalysis.h"

// Source line numbers for the listing; symbol lookup provides the real one.
class ILineSource {
public:
    virtual ~ILineSource() = default;
    // The source line of the code at address, 0 when unknown.
    virtual int LineAt(uint64_t address) const = 0;
};

struct TListingOptions {
    uint64_t ExceptionAddress = 0; // the line that gets the ">" marker; 0 for none
    int LimitDisAsm = 0;           // > 0: keep about this many lines on each side of the marker
    bool FormatDisAsm = true;      // blank and separator lines between areas that are not contiguous
    const char* LineBreak = "\r\n";
};

extern const char* const ListingInternalError;

// The "disassembling" listing of an analysed function; empty for an invalid one.
std::string ListFunction(const TFunctionAnalysis& function, const IMemoryReader& memory,
                         const ISymbolResolver* symbols, const ILineSource* lines,
                         const TListingOptions& options);

#pragma once
// The variables of configured texts ("%appname%", "%date%", ...), expanded in dialog texts, mail
// subjects and bodies and file names.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crashreport/base/RefCounted.h"

struct TLocalTime {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};

// What the variables stand for, for one module. The Win32 layer asks the system; tests fake it.
class ITextVariableSource : public IRefCounted {
public:
    virtual std::string AppName() = 0;     // the executable's file name
    virtual std::string ModName() = 0;     // file name of the module that owns the settings
    virtual std::string ModVersion() = 0;  // version variable, else file version, else empty
    virtual TLocalTime Now() = 0;          // local time
    virtual std::string UserAppData() = 0; // empty when the system gives none
    virtual std::string CommonAppData() = 0;
    virtual std::string ExeFolder() = 0;
};

// Replaces the variables, names compared in any case. The exception message and the report are
// expanded only when given, otherwise "%exceptMsg%" and "%bugReport%" stay for a later pass.
// The text is scanned once: values put in are never scanned again, so an exception message or a
// report that happens to contain "%date%" arrives unchanged.
std::string ExpandTextVariables(std::string_view text, ITextVariableSource* source,
                                const std::string* exceptMsg = nullptr,
                                const std::string* bugReport = nullptr);

std::string FormatVariableDate(const TLocalTime& t); // 2006-05-14
std::string FormatVariableTime(const TLocalTime& t); // 18:02:11, 320ms

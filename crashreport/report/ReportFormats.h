#pragma once
// The value formats of the bug report's header: time stamps, durations, sizes, the operating
// system's name, the cleaned exception message.
#include <cstdint>
#include <string>
#include <string_view>

#include "crashreport/settings/TextVariables.h"

// 2006-05-14, 18:02:11, 320ms
std::string FormatReportDateTime(const TLocalTime& t);
// 2006-05-14 18:02 (the module file's date)
std::string FormatModuleDateTime(const TLocalTime& t);
// The two largest units from the first non-zero one: "1 day 3 hours", "5 minutes 12 seconds".
std::string FormatDuration(uint64_t seconds);
// Below a second: "320 milliseconds"; else a duration.
std::string FormatProgramUpTime(uint64_t milliseconds);
// "512 Bytes", "1,50 KB", "12,07 GB": two decimals behind the user's separator ("," when none).
std::string FormatSize(uint64_t bytes, std::string_view decimalSeparator);
// "1234/4096 MB (free/total)", each rounded to whole MB.
std::string FormatPhysicalMemory(uint64_t availableBytes, uint64_t totalBytes);

struct TOsVersion {
    bool Nt = true;
    uint32_t Major = 0, Minor = 0, Build = 0;
    bool Workstation = true;
    bool R2 = false, TabletPc = false, Starter = false, MediaCenter = false, X64 = false;
    std::string ServicePack; // "Service Pack 1", may be empty
};
// The name from the table, without suffixes: "Windows XP", "Windows NT New", ...
std::string OperatingSystemName(const TOsVersion& v);
// The header's text: name, suffixes, service pack and " build " number.
std::string OperatingSystemText(const TOsVersion& v);

// Runs of blanks reduced to one and both ends trimmed.
std::string CollapseBlanks(std::string_view s);
// The message as the header shows it: line breaks as blanks, runs of blanks as one, and whatever
// follows its last character other than "." and "!" replaced by one "."; empty for a blank message.
std::string CleanExceptionMessage(std::string_view message);
// The command line holds more than the program's own name.
bool CommandLineHasParameters(std::string_view commandLine);
// The fixed "compiled with" text: the compiler that built this code.
std::string CompilerText();

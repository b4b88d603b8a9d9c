#pragma once
// The bug report file: reports collected one after the other, an earlier identical report merged
// into the new one (its "count" raised), the file kept under a size limit. The merge is pure;
// BugReportFileWin32.h writes the result.
#include <cstdint>
#include <string>
#include <string_view>

#include "crashreport/settings/Settings.h"

struct TBugReportFileRules {
    bool Append = true;        // AppendBugReps
    uint32_t SizeLimit = 0;    // BugRepFileSize; 0 = none
    bool NoDupExcepts = false; // merge identical exceptions
    int32_t DupExceptDef = 0;  // 0: first checksum, 1: first two, else all three
    bool NoDupFreezes = false;
    int32_t DupFreezeDef = 0;
    static TBugReportFileRules From(IMESettings& settings);
};

// The file's new content: the old content as the rules keep it, then the report and CR LF CR LF.
std::string MergeBugReport(std::string_view oldFile, std::string_view report,
                           const TBugReportFileRules& rules);

// A header value of a report ("" when the report has no such field).
std::string ReportHeaderValue(std::string_view report, std::string_view name);

// BugRepFile with "%appname%" and "%modname%" (any case) replaced by the program's and the
// reporting module's file names without extension.
std::string BugReportFileName(std::string_view pattern, std::string_view programFile,
                              std::string_view moduleFile);

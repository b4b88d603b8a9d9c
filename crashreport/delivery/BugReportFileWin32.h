#pragma once
// Saving a report into the bug report file on disk.
#include <string>
#include <string_view>

#include "crashreport/delivery/BugReportFile.h"

// A relative bug report file name counts from the program's folder.
std::wstring AbsoluteBugReportPath(std::string_view name);

// Merges the report into the file (missing folders are created). The merged file is written next
// to the old one and replaces it only when complete, so a failure or a crash in between leaves
// the old reports as they were; two processes never merge into one file at once, and a file that
// another program holds open is left alone. False on any failure.
bool SaveBugReportFile(const std::wstring& path, std::string_view report, const TBugReportFileRules& rules);

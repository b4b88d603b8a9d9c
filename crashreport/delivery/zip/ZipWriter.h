#pragma once
// ZIP archives of attachments, written in one pass through IFileAccess.
#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/base/FileAccess.h"

// Inputs larger than this are skipped: the whole file is held in memory, twice.
inline constexpr uint64_t MaxZipEntrySize = uint64_t(1) << 30;

// MS-DOS date (high 16 bits) and time (low 16 bits); times outside 1980..2107 are clamped.
uint32_t DosDateTime(const TLocalFileTime& t);

// Writes `archive` holding `files`, entry i named names[i] or, when that is missing or empty,
// the file's name part. Unreadable inputs are skipped. On any write failure, or when no entry
// was written, the archive is deleted and the result is false.
bool WriteZipArchive(IFileAccess& fs, const std::string& archive, const std::vector<std::string>& files,
                     const std::vector<std::string>& names);

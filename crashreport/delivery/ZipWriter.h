#pragma once
// ZIP archives of attachments, written in one pass, and the raw DEFLATE compressor that the PNG
// writer shares. File access goes through IFileAccess so the Win32 layer, tools and tests each
// bring their own.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A last-write time already converted to local time.
struct TLocalFileTime {
    uint16_t Year = 1980, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
};

struct TFileInfo {
    uint64_t Size = 0;
    TLocalFileTime LastWrite;
    uint32_t Attributes = 0; // Windows file attribute bits
};

inline constexpr uint32_t FileAttributeReadOnly = 0x01;
inline constexpr uint32_t FileAttributeArchive = 0x20;

class IFileReader {
public:
    virtual ~IFileReader() = default;
    virtual bool Info(TFileInfo& info) = 0;
    // Reads up to `count` bytes; `done` 0 at the end of the file. False on a read error.
    virtual bool Read(void* buffer, size_t count, size_t& done) = 0;
};

class IFileWriter {
public:
    virtual ~IFileWriter() = default;
    virtual bool Write(const void* data, size_t count) = 0; // all or failure
    virtual bool Close() = 0;                               // flushes; false if that failed
};

class IFileAccess {
public:
    virtual ~IFileAccess() = default;
    virtual std::unique_ptr<IFileReader> OpenRead(const std::string& path) = 0; // regular files only
    virtual std::unique_ptr<IFileWriter> Create(const std::string& path) = 0;   // replaces a file
    virtual bool Delete(const std::string& path) = 0;
};

#ifndef _WIN32
// Plain POSIX files for the host tools and tests; attributes are derived from the mode bits.
class TPosixFileAccess : public IFileAccess {
public:
    std::unique_ptr<IFileReader> OpenRead(const std::string& path) override;
    std::unique_ptr<IFileWriter> Create(const std::string& path) override;
    bool Delete(const std::string& path) override;
};
#endif

// Inputs larger than this are skipped: the whole file is held in memory, twice.
inline constexpr uint64_t MaxZipEntrySize = uint64_t(1) << 30;

// Raw DEFLATE (no zlib header, 32 KB window) of `data`, appended to `out`. False on failure.
bool DeflateRaw(std::span<const uint8_t> data, std::vector<uint8_t>& out);

// MS-DOS date (high 16 bits) and time (low 16 bits); times outside 1980..2107 are clamped.
uint32_t DosDateTime(const TLocalFileTime& t);

// Writes `archive` holding `files`, entry i named names[i] or, when that is missing or empty,
// the file's name part. Unreadable inputs are skipped. On any write failure, or when no entry
// was written, the archive is deleted and the result is false.
bool WriteZipArchive(IFileAccess& fs, const std::string& archive, const std::vector<std::string>& files,
                     const std::vector<std::string>& names);

#pragma once
// Files as the crash reporter's portable code reaches them: the Win32 layer, the host tools and
// the tests each bring their own access.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

#pragma once
// Plain POSIX files for the host tools and the native tests (not part of the Windows builds).
#include "crashreport/base/FileAccess.h"

// Attributes are derived from the mode bits.
class TPosixFileAccess : public IFileAccess {
public:
    std::unique_ptr<IFileReader> OpenRead(const std::string& path) override;
    std::unique_ptr<IFileWriter> Create(const std::string& path) override;
    bool Delete(const std::string& path) override;
};

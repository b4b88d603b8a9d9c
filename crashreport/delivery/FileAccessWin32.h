#pragma once
// Files through Win32 for the delivery: attachments are opened for reading with reading and
// writing by others allowed, since the program may still be writing its own logs.
#include "crashreport/base/FileAccess.h"

class TWin32FileAccess : public IFileAccess {
public:
    std::unique_ptr<IFileReader> OpenRead(const std::string& path) override;
    std::unique_ptr<IFileWriter> Create(const std::string& path) override;
    bool Delete(const std::string& path) override;
};

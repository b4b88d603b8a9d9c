#include "crashreport/delivery/FileAccessWin32.h"

#include <windows.h>

#include "crashreport/base/HandlesWin32.h"

namespace {

class TReader : public IFileReader {
public:
    explicit TReader(TFileHandle file) : FFile(std::move(file)) {}
    bool Info(TFileInfo& info) override {
        BY_HANDLE_FILE_INFORMATION data;
        if (!::GetFileInformationByHandle(FFile.Get(), &data)) return false;
        info.Size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
        info.Attributes = data.dwFileAttributes;
        FILETIME local;
        SYSTEMTIME t;
        if (::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && ::FileTimeToSystemTime(&local, &t))
            info.LastWrite = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
        return true;
    }
    bool Read(void* buffer, size_t count, size_t& done) override {
        DWORD n = 0;
        const DWORD want = count > 0x40000000 ? 0x40000000 : DWORD(count);
        const bool ok = ::ReadFile(FFile.Get(), buffer, want, &n, nullptr);
        done = ok ? n : 0;
        return ok;
    }

private:
    TFileHandle FFile;
};

class TWriter : public IFileWriter {
public:
    explicit TWriter(TFileHandle file) : FFile(std::move(file)) {}
    bool Write(const void* data, size_t count) override {
        const char* p = static_cast<const char*>(data);
        while (count) {
            DWORD n = 0;
            const DWORD want = count > 0x40000000 ? 0x40000000 : DWORD(count);
            if (!::WriteFile(FFile.Get(), p, want, &n, nullptr) || n == 0) return false;
            p += n;
            count -= n;
        }
        return true;
    }
    bool Close() override {
        const bool ok = ::FlushFileBuffers(FFile.Get()) != 0;
        FFile.Reset();
        return ok;
    }

private:
    TFileHandle FFile;
};

} // namespace

std::unique_ptr<IFileReader> TWin32FileAccess::OpenRead(const std::string& path) {
    TFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || ::GetFileType(file.Get()) != FILE_TYPE_DISK) return nullptr;
    return std::make_unique<TReader>(std::move(file));
}

std::unique_ptr<IFileWriter> TWin32FileAccess::Create(const std::string& path) {
    TFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<TWriter>(std::move(file));
}

bool TWin32FileAccess::Delete(const std::string& path) {
    return ::DeleteFileA(path.c_str()) != 0;
}

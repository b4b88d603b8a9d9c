#include "crashreport/base/FileAccessPosix.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TPosixReader : public IFileReader {
public:
    explicit TPosixReader(int fd) : Fd(fd) {}
    ~TPosixReader() override { ::close(Fd); }
    bool Info(TFileInfo& info) override {
        struct stat st;
        if (::fstat(Fd, &st) != 0) return false;
        info.Size = uint64_t(st.st_size);
        struct tm lt;
        const time_t mtime = st.st_mtime;
        if (!::localtime_r(&mtime, &lt)) return false;
        info.LastWrite = {uint16_t(std::clamp(lt.tm_year + 1900, 0, 65535)),
                          uint16_t(lt.tm_mon + 1),
                          uint16_t(lt.tm_mday),
                          uint16_t(lt.tm_hour),
                          uint16_t(lt.tm_min),
                          uint16_t(std::min(lt.tm_sec, 59))};
        info.Attributes = FileAttributeArchive | ((st.st_mode & S_IWUSR) ? 0 : FileAttributeReadOnly);
        return true;
    }
    bool Read(void* buffer, size_t count, size_t& done) override {
        ssize_t n;
        do
            n = ::read(Fd, buffer, std::min<size_t>(count, 1u << 30));
        while (n < 0 && errno == EINTR);
        done = n > 0 ? size_t(n) : 0;
        return n >= 0;
    }

private:
    int Fd;
};

class TPosixWriter : public IFileWriter {
public:
    explicit TPosixWriter(int fd) : Fd(fd) {}
    ~TPosixWriter() override { Close(); }
    bool Write(const void* data, size_t count) override {
        const auto* p = static_cast<const uint8_t*>(data);
        while (count && Fd >= 0) {
            const ssize_t n = ::write(Fd, p, std::min<size_t>(count, 1u << 30));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            count -= size_t(n);
        }
        return Fd >= 0;
    }
    bool Close() override {
        if (Fd < 0) return true;
        const int rc = ::close(Fd);
        Fd = -1;
        return rc == 0;
    }

private:
    int Fd;
};

} // namespace

std::unique_ptr<IFileReader> TPosixFileAccess::OpenRead(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<TPosixReader>(fd);
}

std::unique_ptr<IFileWriter> TPosixFileAccess::Create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::make_unique<TPosixWriter>(fd);
}

bool TPosixFileAccess::Delete(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

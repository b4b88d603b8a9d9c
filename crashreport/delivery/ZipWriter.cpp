#include "crashreport/delivery/ZipWriter.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>

#ifndef _WIN32
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool DeflateRaw(std::span<const uint8_t> data, std::vector<uint8_t>& out) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    // Never smaller than the classic size * 11 / 10 + 12; deflateBound covers incompressible input.
    const uint64_t bound =
        std::max<uint64_t>(deflateBound(&zs, uLong(std::min<size_t>(data.size(), ULONG_MAX))),
                           uint64_t(data.size()) * 11 / 10 + 12);
    const size_t start = out.size();
    bool ok = bound <= SIZE_MAX - start;
    if (ok) out.resize(start + size_t(bound));
    const uint8_t* in = data.data();
    size_t inLeft = data.size();
    zs.next_out = out.data() + start;
    size_t outLeft = ok ? size_t(bound) : 0;
    int rc = Z_OK;
    // zlib counts in uInt; feed and drain in pieces that fit.
    while (ok && rc == Z_OK) {
        const uInt inPiece = uInt(std::min<size_t>(inLeft, 1u << 30));
        const uInt outPiece = uInt(std::min<size_t>(outLeft, 1u << 30));
        zs.next_in = const_cast<Bytef*>(in);
        zs.avail_in = inPiece;
        zs.avail_out = outPiece;
        rc = deflate(&zs, inPiece == inLeft ? Z_FINISH : Z_NO_FLUSH);
        in += inPiece - zs.avail_in;
        inLeft -= inPiece - zs.avail_in;
        outLeft -= outPiece - zs.avail_out;
        if (rc != Z_OK && rc != Z_STREAM_END) ok = false;
    }
    ok = ok && rc == Z_STREAM_END;
    deflateEnd(&zs);
    out.resize(ok ? out.size() - outLeft : start);
    return ok;
}

uint32_t DosDateTime(const TLocalFileTime& t) {
    if (t.Year < 1980) return (1u << 5 | 1u) << 16; // 1980-01-01 00:00:00
    if (t.Year > 2107) return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
    const uint32_t date = uint32_t(t.Year - 1980) << 9 | uint32_t(t.Month & 15) << 5 | (t.Day & 31);
    const uint32_t time = uint32_t(t.Hour & 31) << 11 | uint32_t(t.Minute & 63) << 5 | ((t.Second / 2) & 31);
    return date << 16 | time;
}

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x);
    Put16(v, x >> 16);
}

std::string NamePart(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The whole input, or false when it cannot be opened, is too large or is not read in full.
bool ReadInput(IFileAccess& fs, const std::string& path, TFileInfo& info, std::vector<uint8_t>& data) {
    auto file = fs.OpenRead(path);
    if (!file || !file->Info(info) || info.Size > MaxZipEntrySize) return false;
    data.resize(size_t(info.Size));
    size_t have = 0;
    while (have < data.size()) {
        size_t done = 0;
        if (!file->Read(data.data() + have, data.size() - have, done) || done == 0) return false;
        have += done;
    }
    return true;
}

} // namespace

bool WriteZipArchive(IFileAccess& fs, const std::string& archive, const std::vector<std::string>& files,
                     const std::vector<std::string>& names) {
    auto out = fs.Create(archive);
    if (!out) return false;
    std::vector<uint8_t> directory;
    uint64_t offset = 0;
    uint32_t entries = 0;
    bool ok = true;
    std::vector<uint8_t> data, packed, header;
    for (size_t i = 0; i < files.size() && ok; ++i) {
        const std::string name = i < names.size() && !names[i].empty() ? names[i] : NamePart(files[i]);
        TFileInfo info;
        if (name.size() > 0xFFFF || !ReadInput(fs, files[i], info, data)) continue;
        packed.clear();
        if (!DeflateRaw(data, packed)) continue;
        if (entries == 0xFFFF || offset + 30 + name.size() + packed.size() > UINT32_MAX) {
            ok = false; // beyond what a ZIP without the 64-bit extension can describe
            break;
        }
        const uint32_t crc = uint32_t(crc32_z(crc32(0, nullptr, 0), data.data(), data.size()));
        header.clear();
        Put32(header, 0x04034B50);
        const size_t common = header.size();
        Put16(header, 20); // version needed
        Put16(header, 0);  // flags
        Put16(header, 8);  // deflated
        const uint32_t stamp = DosDateTime(info.LastWrite);
        Put16(header, stamp & 0xFFFF);
        Put16(header, stamp >> 16);
        Put32(header, crc);
        Put32(header, uint32_t(packed.size()));
        Put32(header, uint32_t(data.size()));
        Put16(header, uint32_t(name.size()));
        Put16(header, 0); // extra length
        ok = out->Write(header.data(), header.size()) && out->Write(name.data(), name.size()) &&
             out->Write(packed.data(), packed.size());

        Put32(directory, 0x02014B50);
        Put16(directory, 20); // version made by
        directory.insert(directory.end(), header.begin() + common, header.begin() + common + 24);
        Put16(directory, 0); // extra length
        Put16(directory, 0); // comment length
        Put16(directory, 0); // disk number
        Put16(directory, 0); // internal attributes
        Put32(directory, info.Attributes);
        Put32(directory, uint32_t(offset));
        directory.insert(directory.end(), name.begin(), name.end());
        offset += header.size() + name.size() + packed.size();
        ++entries;
    }
    if (ok && entries > 0) {
        ok = offset + directory.size() + 22 <= UINT32_MAX;
        std::vector<uint8_t> end;
        Put32(end, 0x06054B50);
        Put16(end, 0);
        Put16(end, 0);
        Put16(end, entries);
        Put16(end, entries);
        Put32(end, uint32_t(directory.size()));
        Put32(end, uint32_t(offset));
        Put16(end, 0);
        ok = ok && out->Write(directory.data(), directory.size()) && out->Write(end.data(), end.size());
    }
    const bool closed = out->Close();
    out.reset();
    if (ok && entries > 0 && closed) return true;
    fs.Delete(archive);
    return false;
}

#ifndef _WIN32

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

#endif

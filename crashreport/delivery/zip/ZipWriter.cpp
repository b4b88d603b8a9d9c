#include "crashreport/delivery/zip/ZipWriter.h"

#include <zlib.h>

#include "crashreport/base/Deflate.h"
#include "crashreport/base/Text.h"

#include <algorithm>
#include <climits>
#include <cstring>

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
        const std::string name =
            i < names.size() && !names[i].empty() ? names[i] : std::string(ExtractFileName(files[i]));
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

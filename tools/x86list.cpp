// x86list: lists x86 code (32- or 64-bit) with the crash reporter's decoder, one instruction per
// line, or one function as the bug report's "disassembling" section shows it. See README-x86list.md.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "crashreport/x86/Decoder.h"
#include "crashreport/x86/Disassembler.h"
#include "crashreport/x86/FunctionListing.h"

namespace {

struct TImage {
    uint64_t Base = 0;
    TX86Mode Mode = TX86Mode::Bits32;
    std::vector<uint8_t> Bytes;
    std::vector<TCodeRange> Code;
    std::map<uint64_t, std::string> Names;
};

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint64_t Get64(const std::vector<uint8_t>& b, size_t at) {
    return Get32(b, at) | uint64_t(Get32(b, at + 4)) << 32;
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
    if (at + 2 > b.size()) return 0;
    return uint16_t(b[at] | b[at + 1] << 8);
}

std::string CString(const std::vector<uint8_t>& b, size_t at) {
    std::string s;
    while (at < b.size() && b[at] && s.size() < 256)
        s += char(b[at++]);
    return s;
}

// Maps a PE file's sections at their virtual addresses and collects export and import names. A
// PE32+ file holds 64-bit code.
bool LoadPe(const std::vector<uint8_t>& file, TImage& image, std::string& error) {
    const uint32_t pe = Get32(file, 0x3C);
    if (file.size() < 0x40 || Get32(file, pe) != 0x4550) return error = "not a PE file", false;
    const uint16_t sections = Get16(file, pe + 6);
    const uint16_t optSize = Get16(file, pe + 20);
    const size_t opt = pe + 24;
    const uint16_t magic = Get16(file, opt);
    if (magic != 0x10B && magic != 0x20B) return error = "neither PE32 nor PE32+", false;
    const bool x64 = magic == 0x20B;
    image.Mode = x64 ? TX86Mode::Bits64 : TX86Mode::Bits32;
    image.Base = x64 ? Get64(file, opt + 24) : Get32(file, opt + 28);
    const size_t directories = opt + (x64 ? 112 : 96);
    const uint32_t sizeOfImage = Get32(file, opt + 56);
    if (sizeOfImage > (512u << 20)) return error = "image too large", false;
    image.Bytes.assign(sizeOfImage, 0);
    const uint32_t headers = std::min<uint32_t>(Get32(file, opt + 60), uint32_t(file.size()));
    std::memcpy(image.Bytes.data(), file.data(), std::min<size_t>(headers, sizeOfImage));
    for (uint16_t i = 0; i < sections; ++i) {
        const size_t sh = opt + optSize + i * 40u;
        if (sh + 40 > file.size()) break;
        const uint32_t vsize = Get32(file, sh + 8), va = Get32(file, sh + 12);
        const uint32_t rawSize = Get32(file, sh + 16), raw = Get32(file, sh + 20),
                       flags = Get32(file, sh + 36);
        if (va >= sizeOfImage) continue;
        size_t n = std::min<size_t>(rawSize, sizeOfImage - va);
        if (raw < file.size())
            n = std::min<size_t>(n, file.size() - raw);
        else
            n = 0;
        std::memcpy(image.Bytes.data() + va, file.data() + raw, n);
        if (flags & 0x20000020u) {
            uint32_t size = vsize ? std::min(vsize, rawSize ? rawSize : vsize) : rawSize;
            size = std::min<uint32_t>(size, sizeOfImage - va);
            image.Code.push_back({image.Base + va, image.Base + va + size});
        }
    }
    // COFF symbols (MinGW executables keep them): function names.
    const uint32_t symbols = Get32(file, pe + 12), symbolCount = Get32(file, pe + 16);
    const size_t strings = size_t(symbols) + size_t(symbolCount) * 18;
    for (uint32_t i = 0; symbols && i < symbolCount && i < (1u << 22); ++i) {
        const size_t at = symbols + size_t(i) * 18;
        if (at + 18 > file.size()) break;
        const uint16_t section = Get16(file, at + 12), type = Get16(file, at + 14);
        const uint8_t storage = file[at + 16], aux = file[at + 17];
        if (section > 0 && section <= sections && (type & 0x30) == 0x20 && (storage == 2 || storage == 3)) {
            const uint32_t va = Get32(file, opt + optSize + (section - 1) * 40u + 12);
            std::string name = Get32(file, at) == 0
                                   ? CString(file, strings + Get32(file, at + 4))
                                   : std::string(reinterpret_cast<const char*>(&file[at]),
                                                 strnlen(reinterpret_cast<const char*>(&file[at]), 8));
            image.Names.emplace(image.Base + va + Get32(file, at + 8), name);
        }
        i += aux;
    }
    const auto& img = image.Bytes;
    // Exports: names of routines. Imports: names of the import slots.
    const uint32_t exp = Get32(file, directories);
    if (exp && exp < img.size()) {
        const uint32_t count = Get32(img, exp + 24), funcs = Get32(img, exp + 28);
        const uint32_t names = Get32(img, exp + 32), ords = Get32(img, exp + 36);
        for (uint32_t i = 0; i < count && i < 65536; ++i) {
            const uint16_t ord = Get16(img, ords + 2 * i);
            const uint32_t rva = Get32(img, funcs + 4 * ord);
            if (rva) image.Names[image.Base + rva] = CString(img, Get32(img, names + 4 * i));
        }
    }
    const uint32_t imp = Get32(file, directories + 8);
    const uint32_t slot = x64 ? 8 : 4;
    for (uint32_t d = imp; d && d + 20 <= img.size(); d += 20) {
        const uint32_t lookup = Get32(img, d) ? Get32(img, d) : Get32(img, d + 16), iat = Get32(img, d + 16);
        if (!iat) break;
        for (uint32_t k = 0; k < 65536; ++k) {
            const uint64_t entry = x64 ? Get64(img, lookup + slot * k) : Get32(img, lookup + slot * k);
            if (!entry) break;
            const bool byOrdinal = entry >> (8 * slot - 1);
            if (!byOrdinal)
                image.Names[image.Base + iat + slot * k] = CString(img, size_t(uint32_t(entry)) + 2);
        }
    }
    return true;
}

class TNames : public ISymbolResolver {
public:
    explicit TNames(const std::map<uint64_t, std::string>& names) : FNames(names) {}
    bool NameAt(uint64_t address, std::string& name) const override {
        auto it = FNames.find(address);
        if (it == FNames.end()) return false;
        name = it->second;
        return true;
    }

private:
    const std::map<uint64_t, std::string>& FNames;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: x86list [--fields] FILE.exe|FILE.dll\n"
                 "       x86list [--fields] [--64] --raw BASE FILE\n"
                 "       x86list --function ADDR [--exception ADDR] [--limit N] [--64] [--raw BASE] FILE\n");
    return 2;
}

bool ParseHex(const char* s, uint64_t& v) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long x = std::strtoull(s, &end, 16);
    if (errno || !end || *end || end == s) return false;
    v = x;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool fields = false, raw = false, function = false, raw64 = false;
    uint64_t base = 0, entry = 0, exceptionAddress = 0;
    int limit = 0;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--fields")
            fields = true;
        else if (a == "--64")
            raw64 = true;
        else if (a == "--raw" && i + 1 < argc) {
            raw = true;
            if (!ParseHex(argv[++i], base)) return Usage();
        } else if (a == "--function" && i + 1 < argc) {
            function = true;
            if (!ParseHex(argv[++i], entry)) return Usage();
        } else if (a == "--exception" && i + 1 < argc) {
            if (!ParseHex(argv[++i], exceptionAddress)) return Usage();
        } else if (a == "--limit" && i + 1 < argc) {
            limit = std::atoi(argv[++i]);
        } else if (!path && a[0] != '-')
            path = argv[i];
        else
            return Usage();
    }
    if (!path) return Usage();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "x86list: cannot open %s\n", path);
        return 1;
    }
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TImage image;
    if (raw) {
        image.Base = base;
        image.Mode = raw64 ? TX86Mode::Bits64 : TX86Mode::Bits32;
        image.Bytes = std::move(file);
        image.Code.push_back({base, base + image.Bytes.size()});
    } else {
        std::string error;
        if (!LoadPe(file, image, error)) {
            std::fprintf(stderr, "x86list: %s: %s\n", path, error.c_str());
            return 1;
        }
    }
    TSpanMemoryReader memory(image.Base, image.Bytes);
    TNames names(image.Names);

    if (function) {
        TCodeRange range{};
        for (const TCodeRange& r : image.Code)
            if (r.Contains(entry)) range = r;
        const TFunctionAnalysis f = AnalyseFunction(memory, entry, range, &names, image.Mode);
        if (!f.Valid) {
            std::fprintf(stderr, "x86list: %s\n", f.ErrorText.c_str());
            return 1;
        }
        TListingOptions options;
        options.ExceptionAddress = exceptionAddress;
        options.LimitDisAsm = limit;
        options.LineBreak = "\n";
        std::printf("%s\n", ListFunction(f, memory, &names, nullptr, options).c_str());
        return 0;
    }

    static char outBuffer[1 << 16];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    char text[X86TextMax];
    const int digits = X86AddressDigits(image.Mode);
    for (const TCodeRange& r : image.Code) {
        const uint8_t* p = image.Bytes.data() + (r.Begin - image.Base);
        for (uint64_t a = r.Begin; a < r.End;) {
            TX86Instruction ins;
            const size_t available = size_t(r.End - a);
            DecodeX86(p + (a - r.Begin), available, a, ins, image.Mode);
            if (ins.HasPointer) {
                uint64_t v = 0;
                if (memory.Read(ins.PointerAddress, &v, ins.TargetSize))
                    ins.PointerValueValid = true, ins.PointerValue = v;
            }
            FormatX86(ins, text, sizeof text, &names, &memory);
            if (fields) {
                if (ins.HasTarget)
                    std::printf("%0*" PRIX64 " %u %0*" PRIX64 " %s\n", digits, a, ins.Length, digits,
                                ins.Target, text);
                else
                    std::printf("%0*" PRIX64 " %u - %s\n", digits, a, ins.Length, text);
            } else {
                std::puts(text);
            }
            a = ins.Next;
        }
    }
    return 0;
}

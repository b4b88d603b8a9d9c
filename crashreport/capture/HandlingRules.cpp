#include "crashreport/capture/HandlingRules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void TExceptionHistory::Push(uint64_t now) {
    std::move_backward(Times.begin(), Times.end() - 1, Times.end());
    Times[0] = now;
}

bool RepeatRule(int32_t n, const TExceptionHistory& history, uint64_t now) {
    if (n <= 0) return false;
    if (n == 1) return true;
    for (uint64_t t : history.Times)
        if (t == 0 || t > now || now - t > uint64_t(n)) return false;
    return true;
}

namespace {

bool ListHolds(std::string_view list, std::string_view name) {
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (!item.empty() && SameName(item, name)) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

} // namespace

TFilterChoice ApplyExceptionFilter(IMESettings& settings, const std::vector<std::string>& classChain) {
    TFilterChoice choice;
    choice.Set = "Gn";
    for (const char* set : {"F1", "F2"}) {
        const std::string list = settings.ReadText(std::string(set) + "Classes");
        if (std::any_of(classChain.begin(), classChain.end(),
                        [&](const std::string& c) { return ListHolds(list, c); })) {
            choice.Set = set;
            break;
        }
    }
    auto read = [&](const char* name) { return settings.ReadBool(choice.Set + name); };
    choice.WantReport = !read("NoBugRep");
    choice.WantScreenShot = !read("NoScrShot") && settings.ReadInt("ScrShotDepth") > 0;
    choice.PauseThreads = !read("NoSuspend") && settings.ReadBool("PauseThreads");
    choice.RunHandlers = !read("NoHandlers");
    choice.DisplayMode = settings.ReadInt(choice.Set + "ShowCfg");
    choice.DisplayAssistant = settings.ReadInt(choice.Set + "Assis");
    choice.AttachScreenShot = choice.WantScreenShot;
    return choice;
}

std::vector<uint8_t> EncodeExceptionRequest(const TExceptionRequest& r, size_t fieldSize) {
    const uint64_t fields[ExceptionRequestFields] = {
        r.Event,       r.ThreadId,      r.Kind,         r.ExceptionObject, r.ExceptionAddress,
        r.CanContinue, r.StackPointer,  r.FramePointer, r.Context,         r.ReportText,
        r.CatchSource, r.RelatedObject, r.Package,      r.PreparedStack};
    std::vector<uint8_t> bytes(ExceptionRequestFields * fieldSize, 0);
    for (size_t i = 0; i < ExceptionRequestFields; ++i)
        for (size_t b = 0; b < fieldSize && b < 8; ++b)
            bytes[i * fieldSize + b] = uint8_t(fields[i] >> (8 * b));
    return bytes;
}

bool DecodeExceptionRequest(const uint8_t* bytes, size_t size, size_t fieldSize, TExceptionRequest& r) {
    if ((fieldSize != 4 && fieldSize != 8) || size != ExceptionRequestFields * fieldSize) return false;
    uint64_t f[ExceptionRequestFields];
    for (size_t i = 0; i < ExceptionRequestFields; ++i) {
        f[i] = 0;
        for (size_t b = 0; b < fieldSize; ++b)
            f[i] |= uint64_t(bytes[i * fieldSize + b]) << (8 * b);
    }
    if (f[2] > 2) return false;
    r.Event = f[0];
    r.ThreadId = f[1];
    r.Kind = uint8_t(f[2]);
    r.ExceptionObject = f[3];
    r.ExceptionAddress = f[4];
    r.CanContinue = (f[5] & 0xFF) != 0;
    r.StackPointer = f[6];
    r.FramePointer = f[7];
    r.Context = f[8];
    r.ReportText = f[9];
    r.CatchSource = uint8_t(f[10]);
    r.RelatedObject = f[11];
    r.Package = f[12];
    r.PreparedStack = f[13];
    return true;
}

TSystemExceptionText SystemExceptionText(uint32_t code, uint64_t address, std::string_view module,
                                         const std::vector<uint64_t>& info, int addressDigits) {
    char buffer[512];
    auto hex = [&](uint64_t v) {
        char h[32];
        std::snprintf(h, sizeof h, "%0*llX", addressDigits, (unsigned long long)v);
        return std::string(h);
    };
    TSystemExceptionText t;
    t.ClassName = "XunException";
    switch (code) {
    case 0xC0000005: {
        const char* access = info.size() >= 1 && info[0] == 1   ? "Write"
                             : info.size() >= 1 && info[0] == 8 ? "Execute"
                                                                : "Read";
        std::snprintf(buffer, sizeof buffer,
                      "Access violation at address %s in module '%.*s'. %s of address %s",
                      hex(address).c_str(), int(module.size()), module.data(), access,
                      hex(info.size() >= 2 ? info[1] : 0).c_str());
        t.Message = buffer;
        return t;
    }
    case 0xC0000094:
        t.Message = "Division by zero";
        return t;
    case 0xC0000095:
        t.Message = "Integer overflow";
        return t;
    case 0xC000008C:
        t.Message = "Range check error";
        return t;
    case 0xC000008E:
        t.Message = "Floating point division by zero";
        return t;
    case 0xC0000091:
        t.Message = "Floating point overflow";
        return t;
    case 0xC0000093:
        t.Message = "Floating point underflow";
        return t;
    case 0xC000008D:
    case 0xC000008F:
    case 0xC0000090:
    case 0xC0000092:
        t.Message = "Invalid floating point operation";
        return t;
    case 0xC00000FD:
        t.Message = "Stack overflow";
        return t;
    case 0xC0000096:
        t.Message = "Privileged instruction";
        return t;
    case 0xC000013A:
        t.Message = "Control-C hit";
        return t;
    default:
        break;
    }
    std::snprintf(buffer, sizeof buffer, "External exception %X", code);
    t.Message = buffer;
    return t;
}

bool IsSilentAbort(const std::vector<std::string>& classChain) {
    return std::any_of(classChain.begin(), classChain.end(),
                       [](const std::string& c) { return c == "EAbort"; });
}

bool IsThreadNaming(uint32_t code, const std::vector<uint64_t>& info) {
    return code == ThreadNamingCode && info.size() >= 4 && uint32_t(info[0]) == 0x1000 && info[3] == 0;
}

uint32_t ImageChecksum(const uint8_t* file, size_t size, size_t& storedAt) {
    storedAt = 0;
    if (size < 0x40 || file[0] != 'M' || file[1] != 'Z') return 0;
    uint32_t nt;
    std::memcpy(&nt, file + 0x3C, 4);
    if (size < 0x60 || nt > size - 0x60 || std::memcmp(file + nt, "PE\0\0", 4) != 0) return 0;
    storedAt = nt + 24 + 64;
    uint64_t total = 0;
    for (size_t i = 0; i < size; i += 2) {
        if (i == storedAt || i == storedAt + 2) continue;
        total += uint32_t(file[i]) | (i + 1 < size ? uint32_t(file[i + 1]) << 8 : 0);
        total = (total & 0xFFFF) + (total >> 16);
    }
    return uint32_t(((total & 0xFFFF) + size) & 0xFFFFFFFF);
}

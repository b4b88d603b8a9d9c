#include "crashreport/report/ReportSections.h"

#include <algorithm>

#include "crashreport/base/Text.h"

const char* const PendingText = "will be calculated soon";
const char* const PendingSection = ">> will be calculated soon";
const char* const PendingStack = ">> stack will be calculated soon";
const char* const StackNotAccessible = ">> stack not accessible";

std::string InternalErrorText(std::string_view step, std::string_view location) {
    std::string out = ">> internal error in " + std::string(step) + ":";
    if (!location.empty()) out += "\r\n" + std::string(location);
    return out;
}

std::string CpuRegistersText(const TCpuContext& c) {
    using R = TCpuContext;
    static const struct {
        const char* Name32;
        const char* Name64;
        int Reg;
    } order[] = {{"eax", "rax", R::RegAx}, {"ebx", "rbx", R::RegBx}, {"ecx", "rcx", R::RegCx},
                 {"edx", "rdx", R::RegDx}, {"esi", "rsi", R::RegSi}, {"edi", "rdi", R::RegDi}};
    std::string out;
    auto line = [&](const std::string& name, uint64_t value) {
        if (!out.empty()) out += "\r\n";
        out += name + " = ";
        AppendHex(out, c.Bits64 ? value : value & 0xFFFFFFFF, c.Bits64 ? 16 : 8);
    };
    for (const auto& r : order)
        line(c.Bits64 ? r.Name64 : r.Name32, c.Regs[r.Reg]);
    if (c.Bits64)
        for (int i = 0; i < 8; ++i)
            line((i < 2 ? "r" + std::to_string(8 + i) + " " : "r" + std::to_string(8 + i)),
                 c.Regs[R::RegR8 + i]);
    line(c.Bits64 ? "rip" : "eip", c.Regs[R::RegIp]);
    line(c.Bits64 ? "rsp" : "esp", c.Regs[R::RegSp]);
    line(c.Bits64 ? "rbp" : "ebp", c.Regs[R::RegBp]);
    return out;
}

std::string StackDumpText(const IMemoryReader& memory, uint64_t sp, uint64_t regionEnd, int addressDigits) {
    std::string out;
    for (int row = 0; row < 20; ++row) {
        const uint64_t at = sp + uint64_t(row) * 16;
        if (at >= regionEnd) break;
        uint8_t bytes[16];
        size_t count = size_t(std::min<uint64_t>(16, regionEnd - at));
        // A region that is shorter than it claims ends the dump where reading stops.
        while (count > 0 && !memory.Read(at, bytes, count))
            --count;
        if (count == 0) break;
        if (row) out += "\r\n";
        AppendHex(out, at, addressDigits);
        out += "  ";
        for (size_t i = 0; i < 16; ++i) {
            if (i == 8) out += i < count ? "- " : "  ";
            if (i < count) {
                AppendHex(out, bytes[i], 2);
                out += ' ';
            } else {
                out += "   ";
            }
        }
        out += ' ';
        for (size_t i = 0; i < count; ++i)
            out += bytes[i] >= 33 && bytes[i] <= 126 ? char(bytes[i]) : '.';
        if (count < 16) break;
    }
    return out;
}

bool IsHiddenThreadName(std::string_view name) {
    return name == "-" || name == "AntiFreezeThread" || name == "HandleExceptionThread";
}

std::string ThreadSectionTitle(uint32_t threadId, const TThreadEntry* entry, const TThreadState& state) {
    std::string out;
    if (entry && !entry->Name.empty()) {
        out = entry->Name + " ($" + Hex(threadId) + ")";
    } else {
        out = "thread $" + Hex(threadId);
        if (entry && !entry->ClassName.empty()) out += " (" + entry->ClassName + ")";
    }
    out += ':';
    if (state.Suspended) out += " <suspended>";
    if (state.Priority != 0) out += " <priority:" + std::to_string(state.Priority) + ">";
    return out;
}

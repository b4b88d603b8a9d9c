#include "crashreport/x86/FunctionListing.h"

#include "crashreport/base/Text.h"

const char* const ListingInternalError =
    "Internal error in ParseFunction while composing the disassembling string...  :-(";

namespace {

void PadTo(std::string& s, size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
}

struct TLine {
    std::string Text;
    int SourceLine = 0; // instruction lines with a known source line
    bool Instruction = false;
};

} // namespace

std::string ListFunction(const TFunctionAnalysis& function, const IMemoryReader& memory,
                         const ISymbolResolver* symbols, const ILineSource* lines,
                         const TListingOptions& options) {
    if (!function.Valid || function.Areas.empty()) return {};
    const int digits = X86AddressDigits(function.Mode);
    std::string name;
    const bool named = symbols && symbols->NameAt(function.Entry, name);
    if (!named) {
        name = "sub_";
        AppendHex(name, function.Entry);
    }
    std::vector<TLine> out;
    {
        TLine first;
        AppendHex(first.Text, function.Entry, digits);
        first.Text += named ? " public " : " ";
        first.Text += name;
        out.push_back(first);
    }
    size_t markerLine = SIZE_MAX;
    int lastSource = -1;
    int maxSource = 0;
    for (size_t i = 0; i < function.Areas.size(); ++i) {
        const TCodeArea& area = function.Areas[i];
        if (i > 0 && function.Areas[i - 1].End != area.Begin) {
            if (options.FormatDisAsm) {
                TLine blank, sep;
                AppendHex(blank.Text, function.Areas[i - 1].End, digits);
                AppendHex(sep.Text, function.Areas[i - 1].End, digits);
                sep.Text += " ; ---------------------------------------------------------";
                out.push_back(blank);
                out.push_back(sep);
            }
            lastSource = -1;
        }
        if (area.Kind == TCodeAreaKind::Code && (area.Label || area.Begin == function.Entry)) {
            TLine label;
            AppendHex(label.Text, area.Begin, digits);
            label.Text += ' ';
            if (area.Begin == function.Entry) {
                label.Text += name;
                label.Text += ':';
                PadTo(label.Text, size_t(digits) + 23);
                label.Text += "  ; function entry point";
            } else {
                label.Text += "loc_";
                AppendHex(label.Text, area.Begin);
                label.Text += ':';
            }
            out.push_back(label);
        }
        if (area.Kind == TCodeAreaKind::JumpTable) {
            for (uint64_t a = area.Begin; a + 4 <= area.End; a += 4) {
                uint32_t target = 0;
                if (!memory.Read(a, &target, 4)) return ListingInternalError;
                TLine entry;
                AppendHex(entry.Text, a, digits);
                entry.Text += "   dd loc_";
                AppendHex(entry.Text, target);
                if (a == area.Begin) {
                    PadTo(entry.Text, size_t(digits) + 23);
                    entry.Text += "  ; case jump table";
                }
                out.push_back(entry);
            }
            continue;
        }
        if (area.Kind == TCodeAreaKind::HandlerTable) {
            // "  on EClass do loc_..." with the class names padded to the longest; "  else" for the default.
            const uint32_t count = uint32_t((area.End - area.Begin - 4) / 8);
            std::vector<std::pair<std::string, uint32_t>> entries;
            size_t width = 0;
            for (uint32_t k = 0; k < count; ++k) {
                uint32_t pair[2];
                if (!memory.Read(area.Begin + 4 + 8 * k, pair, 8)) return ListingInternalError;
                std::string cls;
                if (pair[0] && !(symbols && symbols->ClassNameAt(pair[0], cls))) cls = "EUnknown";
                width = std::max(width, cls.size());
                entries.emplace_back(pair[0] ? cls : std::string(), pair[1]);
            }
            for (uint32_t k = 0; k < count; ++k) {
                TLine entry;
                AppendHex(entry.Text, area.Begin + 4 + 8 * k, digits);
                entry.Text += ' ';
                if (entries[k].first.empty()) {
                    entry.Text += "  else loc_";
                } else {
                    entry.Text += "  on " + entries[k].first;
                    entry.Text.append(width - entries[k].first.size(), ' ');
                    entry.Text += " do loc_";
                }
                AppendHex(entry.Text, entries[k].second);
                out.push_back(std::move(entry));
            }
            continue;
        }
        if (area.Kind != TCodeAreaKind::Code) continue;
        char buffer[X86TextMax];
        for (uint64_t a = area.Begin; a < area.End;) {
            TX86Instruction ins;
            if (!DecodeX86(memory, a, ins, function.Mode)) return ListingInternalError;
            TLine line;
            line.Text.assign(buffer, FormatX86(ins, buffer, sizeof buffer, symbols, &memory));
            line.Instruction = true;
            if (options.ExceptionAddress && a <= options.ExceptionAddress &&
                options.ExceptionAddress < ins.Next) {
                line.Text[size_t(digits) + 1] = '>';
                markerLine = out.size();
            }
            if (lines) {
                const int source = lines->LineAt(a);
                if (source > 0 && source != lastSource) {
                    line.SourceLine = source;
                    maxSource = std::max(maxSource, source);
                }
                if (source > 0) lastSource = source;
            }
            out.push_back(std::move(line));
            a = ins.Next;
        }
    }
    // Source line column: zero-padded numbers on the first instruction of a line, blanks elsewhere.
    if (maxSource > 0) {
        const size_t width = std::to_string(maxSource).size();
        for (TLine& line : out) {
            if (!line.Instruction) continue;
            std::string column;
            if (line.SourceLine > 0) {
                column = std::to_string(line.SourceLine);
                column.insert(0, width - column.size(), '0');
            } else {
                column.assign(width, ' ');
            }
            line.Text.insert(size_t(digits) + 3, column + ' ');
        }
    }
    // Shorten around the exception location.
    size_t from = 1, to = out.size();
    bool cutBefore = false, cutAfter = false;
    if (options.LimitDisAsm > 0 && markerLine != SIZE_MAX) {
        const size_t n = size_t(options.LimitDisAsm);
        const size_t before = markerLine - 1, after = out.size() - markerLine - 1;
        if (before > n * 12 / 10) {
            from = markerLine - n;
            cutBefore = true;
        }
        if (after > n * 12 / 10) {
            to = markerLine + n + 1;
            cutAfter = true;
        }
    }
    std::string text = out[0].Text;
    auto add = [&](const std::string& s) {
        text += options.LineBreak;
        text += s;
    };
    if (cutBefore) add("[...]");
    for (size_t i = from; i < to; ++i)
        add(out[i].Text);
    if (cutAfter) add("[...]");
    return text;
}

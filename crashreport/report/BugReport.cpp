#include "crashreport/report/BugReport.h"

#include <algorithm>

#include "crashreport/base/Text.h"
#include "crashreport/report/ReportFormats.h"
#include "crashreport/report/ReportSections.h"
#include "crashreport/x86/FunctionListing.h"

uint64_t NextProcessExceptionNumber() {
    static std::atomic<uint64_t> counter{0};
    return counter.fetch_add(1) + 1;
}

namespace {

// The header's contents on one line.
std::string OneLine(std::string_view s) {
    std::string flat;
    for (char c : s)
        flat += c == '\r' || c == '\n' ? ' ' : c;
    return CollapseBlanks(flat);
}

bool SameFile(std::string_view a, std::string_view b) {
    return SameFieldName(a, b);
}

std::string ExtractName(const std::string& path) {
    return std::string(ExtractFileName(path));
}

} // namespace

std::string RenderReport(IMEFields& header, IMEFields& sections) {
    std::string out;
    {
        TFieldsLock lock(header);
        const int count = header.ItemCount();
        size_t width = 0;
        for (int i = 0; i < count; ++i)
            width = std::max(width, header.ItemName(i).size());
        for (int i = 0; i < count; ++i) {
            std::string name = header.ItemName(i);
            if (i) out += "\r\n";
            out += name;
            // As the layout's example has it: two blanks after the longest name, then ": ".
            out.append(width + 2 - name.size(), ' ');
            out += ": " + OneLine(header.ItemContents(i));
        }
    }
    TFieldsLock lock(sections);
    const int count = sections.ItemCount();
    for (int i = 0; i < count; ++i) {
        std::string title = sections.ItemName(i);
        out += "\r\n\r\n" + title;
        if (title.find(':') == std::string::npos) out += ':';
        const std::string contents = sections.ItemContents(i);
        size_t pos = 0;
        while (pos <= contents.size()) {
            size_t end = contents.find_first_of("\r\n", pos);
            if (end == std::string::npos) end = contents.size();
            std::string_view line(contents.data() + pos, end - pos);
            while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ')
                line.remove_suffix(1);
            out += "\r\n";
            out += line.empty() ? std::string_view(".") : line;
            if (end == contents.size()) break;
            pos = end +
                  (contents[end] == '\r' && end + 1 < contents.size() && contents[end + 1] == '\n' ? 2 : 1);
        }
    }
    return out;
}

TBugReport::TBugReport(TReportException exception, TReportSources sources)
    : FException(std::move(exception)), FSources(std::move(sources)) {
    if (!FSources.Plugins) FSources.Plugins = &ReportPlugins();
    if (!FSources.NextExceptionNumber) FSources.NextExceptionNumber = NextProcessExceptionNumber;
}

TBugReport::~TBugReport() {
    // Whoever still holds a list may write to it; the report no longer hears of it.
    if (FHeader) FHeader->SetOnChange({});
    if (FSections) FSections->SetOnChange({});
}

void TBugReport::SetRunner(TRef<ICompletionRunner> runner) {
    FRunner = std::move(runner);
}

int TBugReport::AddressDigits() {
    return FSources.Process && FSources.Process->Bits64() ? 16 : 8;
}

TTraceOptions TBugReport::TraceOptions() {
    IMESettings& s = *FSources.Settings;
    return TTraceOptions{s.GetHideUglyItems(), s.GetShowRelAddrs(), s.GetShowRelLines()};
}

void TBugReport::FieldsChanged() {
    std::function<void()> fire;
    {
        std::lock_guard lock(FChangeLock);
        if (FChangeLocks > 0) {
            FChangePending = true;
            return;
        }
        fire = FOnChange;
    }
    if (fire) fire();
}

void TBugReport::LockChanges() {
    std::lock_guard lock(FChangeLock);
    ++FChangeLocks;
}

void TBugReport::UnlockChanges() {
    std::function<void()> fire;
    {
        std::lock_guard lock(FChangeLock);
        if (FChangeLocks == 0 || --FChangeLocks > 0 || !FChangePending) return;
        FChangePending = false;
        fire = FOnChange;
    }
    if (fire) fire();
}

void TBugReport::SetOnChange(std::function<void()> onChange) {
    std::lock_guard lock(FChangeLock);
    FOnChange = std::move(onChange);
}

void TBugReport::SetOnComplete(std::function<void()> onComplete) {
    std::lock_guard lock(FStepLock);
    FOnComplete = std::move(onComplete);
}

TRef<IMEFields> TBugReport::Header() {
    // One change event for the whole composition, raised outside the composition's lock.
    LockChanges();
    {
        std::lock_guard lock(FComposeLock);
        if (!FHeader) {
            // The lists live inside the report: their callback never outlives it.
            FHeader = MakeRef<TIMEFields>([this] { FieldsChanged(); }, false);
            ComposeHeader();
        }
    }
    UnlockChanges();
    return FHeader;
}

void TBugReport::ComposeHeader() {
    ISystemFacts& f = *FSources.Facts;
    IMESettings& s = *FSources.Settings;
    TIMEFields& h = *FHeader;
    h.SetAccepting(true);
    auto field = [&](const char* name, auto&& contents) {
        try {
            h.Add(name, contents());
        } catch (...) {
            // A field that fails is left out; the next one is still tried.
        }
    };
    field("date/time", [&] { return FormatReportDateTime(FException.Created); });
    field("computer name", [&] { return f.ComputerName(); });
    field("wts client name", [&] { return f.WtsClientName(); });
    field("user name", [&] { return f.UserName() + (f.UserIsAdmin() ? "  <admin>" : ""); });
    field("registered owner", [&] {
        std::string owner = f.RegisteredOwner(), org = f.RegisteredOrganization();
        return TrimField(org).empty() ? owner : owner + " / " + org;
    });
    field("operating system", [&] { return OperatingSystemText(f.OsVersion()); });
    field("system language", [&] { return f.SystemLanguage(); });
    field("system up time", [&] { return FormatDuration(f.SystemUpTimeSeconds()); });
    field("program up time", [&] { return FormatProgramUpTime(f.ProgramUpTimeMilliseconds()); });
    try {
        const int count = f.ProcessorCount();
        const std::string brand = CollapseBlanks(f.ProcessorBrand());
        if (count > 1)
            h.Add("processors", std::to_string(count) + "x " + brand);
        else
            h.Add("processor", brand);
    } catch (...) {
    }
    field("physical memory",
          [&] { return FormatPhysicalMemory(f.AvailablePhysicalMemory(), f.TotalPhysicalMemory()); });
    field("system resources", [&] { return f.SystemResources(); });
    field("free disk space", [&] {
        const std::string sep = f.DecimalSeparator();
        auto drive = [&](char letter) {
            std::optional<uint64_t> free = f.FreeDiskSpace(letter);
            return free ? std::string("(") + letter + ":) " + FormatSize(*free, sep) : std::string();
        };
        const char sys = f.SystemDrive(), exe = f.ExeDrive();
        std::string out = drive(sys);
        if (exe && (exe | 0x20) != (sys | 0x20)) {
            std::string other = drive(exe);
            if (!other.empty()) out += (out.empty() ? "" : " ") + other;
        }
        return out;
    });
    field("display mode", [&] {
        return std::to_string(f.DisplayWidth()) + "x" + std::to_string(f.DisplayHeight()) + ", " +
               std::to_string(f.DisplayBitsPerPixel()) + " bit";
    });
    field("process id", [&] { return "$" + Hex(f.ProcessId()); });
    field("allocated memory", [&] { return FormatSize(f.AllocatedMemory(), f.DecimalSeparator()); });
    field("command line", [&] {
        std::string cmd = f.CommandLine();
        return CommandLineHasParameters(cmd) ? cmd : std::string();
    });
    std::string exePath, modulePath;
    try {
        exePath = f.ExecutablePath();
        modulePath = f.ModulePath();
    } catch (...) {
    }
    const bool otherModule = !modulePath.empty() && !SameFile(modulePath, exePath);
    field("executable", [&] { return ExtractName(exePath); });
    field("current module", [&] { return otherModule ? ExtractName(modulePath) : std::string(); });
    field(otherModule ? "module date/time" : "exec. date/time",
          [&] { return FormatModuleDateTime(f.ModuleFileTime()) + "\r\n"; });
    field("version", [&] { return f.ModuleVersion(); });
    field("bde version", [&] { return f.BdeVersion(); });
    field("compiled with", [&] { return CompilerText(); });
    field("xunExcept version", [&] { return std::string("3.0h"); });
    try {
        for (const TReportPlugin& p : FSources.Plugins->Enabled(s.GetPlugins()))
            if (!p.OwnSection)
                field(p.Name.c_str(), [&] { return p.Procedure ? p.Procedure() : std::string(); });
    } catch (...) {
    }
    field("callstack crc", [&] { return std::string(PendingText); });
    // Fields added later land just before the checksum, which moves down.
    h.SetInsertIndex(h.IndexOf("callstack crc"));
    field("exception number", [&] { return std::to_string(FSources.NextExceptionNumber()); });
    if (FException.Kind == TExceptionKind::Frozen) {
        field("exception message", [&] { return s.GetFrozenMsg(); });
    } else {
        field("exception class",
              [&] { return FException.ClassName.empty() ? std::string("Unknown") : FException.ClassName; });
        field("exception message", [&] {
            return FException.Message == FException.ClassName ? std::string()
                                                              : CleanExceptionMessage(FException.Message);
        });
    }
}

TRef<IMEFields> TBugReport::Sections() {
    bool start = false;
    LockChanges();
    {
        std::lock_guard lock(FComposeLock);
        if (!FSections) {
            FSections = MakeRef<TIMEFields>([this] { FieldsChanged(); }, false);
            ComposeSections();
            start = !FDefer;
        }
    }
    UnlockChanges();
    if (start && FRunner) FRunner->Start(*this);
    return FSections;
}

std::string TBugReport::LocationText(uint64_t address) {
    TStackLine line;
    line.Address = address;
    line.Module = "???";
    if (FSources.Tracer) line = FSources.Tracer->Locate(address);
    IMESettings& s = *FSources.Settings;
    return StackLineText(line, s.GetShowRelAddrs(), s.GetShowRelLines(), AddressDigits());
}

void TBugReport::AddThreadSection(uint32_t id, bool crashed) {
    ICapturedProcess& p = *FSources.Process;
    TThreadSection t;
    t.Record.ThreadId = id;
    t.Record.Crashed = crashed;
    TThreadEntry entry;
    bool known = false, locked = !FSources.ThreadNames;
    if (FSources.ThreadNames && FSources.ThreadNames->Lock(50)) {
        locked = true;
        known = FSources.ThreadNames->Find(id, entry);
        FSources.ThreadNames->Unlock();
    }
    if (!crashed && known && IsHiddenThreadName(entry.Name)) return;
    TThreadState state;
    p.ThreadState(id, state);
    t.Title = ThreadSectionTitle(id, locked ? &entry : nullptr, state);
    if (known) {
        t.Record.CreatorId = entry.CreatorId;
        t.Record.CreatorAddress = entry.CreatorAddress;
    }
    t.Record.Title = t.Title;
    t.Record.OsException = crashed && FException.OsException;
    t.Record.Termination = crashed && FException.Termination;
    std::string contents;
    try {
        TCpuContext context;
        if (crashed && FException.HasContext) {
            context = FException.Context;
            t.Accessible = true;
        } else if (crashed && FException.Kind != TExceptionKind::Frozen) {
            context.Regs[TCpuContext::RegSp] = FException.CatchStackPointer;
            context.Regs[TCpuContext::RegBp] = FException.CatchFramePointer;
            context.Regs[TCpuContext::RegIp] = FException.Address;
            t.Accessible = FException.CatchStackPointer != 0;
        } else {
            t.Accessible = p.ThreadContext(id, context);
        }
        if (t.Accessible) {
            t.Record.StackPointer = context.Sp();
            t.Record.FramePointer = context.Fp();
            t.Record.CurrentAddress =
                crashed && FException.Kind != TExceptionKind::Frozen ? FException.Address : context.Ip();
            if (crashed) t.Record.ExceptionAddress = FException.Address;
            uint64_t end = 0;
            t.Accessible = p.RegionEnd(t.Record.StackPointer, end);
            t.Record.StackTop = end;
        }
        if (t.Accessible && FSources.Tracer) t.Record.PreparedStack = FSources.Tracer->PrepareStack(t.Record);
        if (!t.Accessible) {
            contents = StackNotAccessible;
            if (crashed) contents += ", exception location: \r\n" + LocationText(FException.Address);
        } else {
            contents = LocationText(t.Record.CurrentAddress) + "\r\n" + PendingStack;
        }
    } catch (...) {
        t.Accessible = false;
        contents = InternalErrorText("GetThreadStack");
    }
    FSections->Add(t.Title, contents);
    FThreads.push_back(std::move(t));
}

void TBugReport::ComposeSections() {
    IMESettings& s = *FSources.Settings;
    ICapturedProcess& p = *FSources.Process;
    FSections->SetAccepting(true);
    const bool frozen = FException.Kind == TExceptionKind::Frozen;
    uint32_t mainId = 0;
    try {
        mainId = p.MainThreadId();
    } catch (...) {
    }
    const uint32_t first = frozen ? mainId : FException.CrashedThreadId;
    std::vector<uint32_t> listed{first};
    AddThreadSection(first, true);
    if (!frozen && mainId != first) {
        listed.push_back(mainId);
        AddThreadSection(mainId, false);
    }
    if (s.GetListThreads()) {
        std::vector<uint32_t> ids;
        try {
            ids = p.ThreadIds();
        } catch (...) {
        }
        for (uint32_t id : ids) {
            if (std::find(listed.begin(), listed.end(), id) != listed.end()) continue;
            const auto& ex = FSources.ExcludedThreads;
            if (std::find(ex.begin(), ex.end(), id) != ex.end()) continue;
            listed.push_back(id);
            AddThreadSection(id, false);
        }
    }
    try {
        for (const TReportPlugin& plugin : FSources.Plugins->Enabled(s.GetPlugins()))
            if (plugin.OwnSection) {
                FSections->Add(plugin.Name, PendingSection);
                FPluginSections.push_back(plugin);
            }
    } catch (...) {
    }
    const bool context = FException.HasContext && !frozen;
    if (s.GetCpuRegs() && context) FSections->Add("cpu registers", PendingSection);
    if (s.GetStackDump() && context) FSections->Add("stack dump", PendingSection);
    if (s.GetShowDisAsm() && FSources.Tracer) FSections->Add("disassembling", PendingSection);

    // The first thread first: it yields the exception location and the checksums the rest needs.
    std::lock_guard lock(FStepLock);
    if (!FThreads.empty()) FSteps.push_back({TStepKind::Thread, 0});
    if (FSections->IndexOf("cpu registers") >= 0) FSteps.push_back({TStepKind::CpuRegisters, 0});
    if (FSections->IndexOf("stack dump") >= 0) FSteps.push_back({TStepKind::StackDump, 0});
    if (FSections->IndexOf("disassembling") >= 0) FSteps.push_back({TStepKind::DisAsm, 0});
    for (size_t i = 0; i < FPluginSections.size(); ++i)
        FSteps.push_back({TStepKind::Plugin, i});
    for (size_t i = 1; i < FThreads.size(); ++i)
        FSteps.push_back({TStepKind::Thread, i});
}

std::vector<uint64_t> TBugReport::ProgressWeights() {
    Sections();
    std::vector<uint64_t> weights;
    std::lock_guard lock(FStepLock);
    for (const TStep& step : FSteps)
        if (step.Kind == TStepKind::Thread) {
            const TThreadStackRecord& r = FThreads[step.Index].Record;
            weights.push_back(r.StackTop > r.StackPointer ? r.StackTop - r.StackPointer : 1);
        }
    return weights;
}

void TBugReport::Replace(const std::string& title, const std::string& contents) {
    LockChanges();
    FSections->SetContents(title, contents);
    UnlockChanges();
}

std::string TBugReport::CreatorTitle(uint32_t creatorId) {
    for (const TThreadSection& t : FThreads)
        if (t.Record.ThreadId == creatorId) {
            std::string title = t.Title.substr(0, t.Title.find(':'));
            return title;
        }
    TThreadEntry entry;
    if (FSources.ThreadNames && FSources.ThreadNames->Lock(50)) {
        bool known = FSources.ThreadNames->Find(creatorId, entry);
        FSources.ThreadNames->Unlock();
        if (known && !entry.Name.empty()) return entry.Name + " ($" + Hex(creatorId) + ")";
    }
    return "thread $" + Hex(creatorId);
}

void TBugReport::TraceThread(TThreadSection& t, IReportProgress* progress) {
    const TTraceOptions options = TraceOptions();
    std::string contents;
    try {
        TStackTrace trace = FSources.Tracer->TraceStack(t.Record, options, FAbort, [&](int thousandths) {
            if (progress) progress->SetStagePosition(thousandths);
        });
        if (FAbort) return;
        if (!trace.Error.empty()) {
            contents = trace.Error;
        } else if (trace.Lines.empty()) {
            contents = LocationText(t.Record.CurrentAddress);
        } else {
            contents =
                ComposeStackLines(trace.Lines, options.ShowRelAddrs, options.ShowRelLines, AddressDigits());
            if (t.Record.CreatorId && trace.Lines.size() > 1) {
                size_t last = contents.rfind("\r\n");
                contents.insert(last, "\r\n>> created by " + CreatorTitle(t.Record.CreatorId) + " at:");
            }
        }
        t.Checksum = StackChecksum(trace.Lines);
        {
            std::lock_guard lock(FChecksumLock);
            for (std::string& name : trace.MinimalDebugInfo)
                if (std::find(FMinimalDebugInfo.begin(), FMinimalDebugInfo.end(), name) ==
                    FMinimalDebugInfo.end())
                    FMinimalDebugInfo.push_back(std::move(name));
        }
        for (const TStackLine& l : trace.Lines)
            t.HasLines = t.HasLines || l.Line > 0;
        if (&t == &FThreads.front()) {
            std::lock_guard lock(FChecksumLock);
            FChecksums[0] = trace.Lines.empty() ? 0 : StackItemChecksum(trace.Lines.front());
            FChecksums[1] = t.Checksum;
            FExceptionFunction = trace.ExceptionFunction;
            FExceptionFunctionKnown = trace.ExceptionFunctionKnown;
        }
    } catch (...) {
        contents = InternalErrorText("GetThreadReport");
    }
    Replace(t.Title, contents);
}

void TBugReport::RunStep(const TStep& step, IReportProgress* progress) {
    IMESettings& s = *FSources.Settings;
    switch (step.Kind) {
    case TStepKind::Thread: {
        TThreadSection& t = FThreads[step.Index];
        if (t.Accessible && FSources.Tracer) TraceThread(t, progress);
        if (progress) progress->StageDone();
        break;
    }
    case TStepKind::CpuRegisters: {
        std::string text;
        try {
            text = CpuRegistersText(FException.Context);
        } catch (...) {
            text = InternalErrorText("GetCpuRegisters");
        }
        Replace("cpu registers", text);
        break;
    }
    case TStepKind::StackDump: {
        std::string text;
        try {
            const uint64_t sp = FException.Context.Sp();
            uint64_t end = 0;
            if (FSources.Process->RegionEnd(sp, end))
                text = StackDumpText(FSources.Process->Memory(), sp, end, AddressDigits());
        } catch (...) {
            text = InternalErrorText("GetStackDump");
        }
        Replace("stack dump", text);
        break;
    }
    case TStepKind::DisAsm: {
        std::string text;
        try {
            TCodeRange range;
            if (FExceptionFunctionKnown && FSources.Process->CodeRange(FExceptionFunction, range)) {
                const TX86Mode mode = FSources.Process->Bits64() ? TX86Mode::Bits64 : TX86Mode::Bits32;
                const IMemoryReader& memory = FSources.Process->Memory();
                TFunctionAnalysis fn =
                    AnalyseFunction(memory, FExceptionFunction, range, FSources.Tracer->Symbols(), mode);
                TListingOptions options;
                options.ExceptionAddress = FException.Address;
                options.LimitDisAsm = s.GetLimitDisAsm();
                options.FormatDisAsm = s.GetFormatDisAsm();
                text =
                    ListFunction(fn, memory, FSources.Tracer->Symbols(), FSources.Tracer->Lines(), options);
            }
        } catch (...) {
            text = InternalErrorText("GetCleartextDisAsm");
        }
        // Nothing to list (no function found, undecodable code): the section goes.
        Replace("disassembling", text);
        break;
    }
    case TStepKind::Plugin: {
        const TReportPlugin& plugin = FPluginSections[step.Index];
        std::string text;
        try {
            text = plugin.Procedure ? plugin.Procedure() : std::string();
        } catch (...) {
            text = InternalErrorText("plugin");
        }
        Replace(plugin.Name, text);
        break;
    }
    }
}

bool TBugReport::StepCompletion(IReportProgress* progress) {
    Header();
    Sections();
    std::function<void()> onComplete;
    {
        std::lock_guard lock(FStepLock);
        if (FComplete || FAbort) return false;
        if (progress && !FProgressPlanned) {
            FProgressPlanned = true;
            const std::string text = FSources.Settings->GetPlWaitText();
            for (const TStep& step : FSteps)
                if (step.Kind == TStepKind::Thread) {
                    const TThreadStackRecord& r = FThreads[step.Index].Record;
                    progress->AddStage(text, r.StackTop > r.StackPointer ? r.StackTop - r.StackPointer : 1);
                }
        }
        if (FNextStep < FSteps.size()) {
            FStepThread = std::this_thread::get_id();
            RunStep(FSteps[FNextStep++], progress);
            FStepThread = std::thread::id();
        }
        if (FAbort) return false;
        if (FNextStep < FSteps.size()) return true;
        Finish();
        onComplete = FOnComplete;
    }
    if (onComplete) onComplete();
    return false;
}

void TBugReport::Finish() {
    std::array<uint32_t, 3> sums;
    {
        std::lock_guard lock(FChecksumLock);
        uint32_t third = FChecksums[1];
        for (size_t i = 1; i < FThreads.size(); ++i)
            if (FThreads[i].HasLines) third = FeedChecksum(third, FThreads[i].Checksum);
        FChecksums[2] = third;
        sums = FChecksums;
    }
    std::string crc;
    for (uint32_t v : sums)
        crc += (crc.empty() ? "$" : ", $") + Hex(v, 8);
    LockChanges();
    FHeader->SetContents("callstack crc", crc);
    FComplete = true;
    UnlockChanges();
}

void TBugReport::RunCompletion(IReportProgress* progress) {
    while (StepCompletion(progress)) {
    }
}

std::vector<std::string> TBugReport::MinimalDebugInfo() {
    std::lock_guard lock(FChecksumLock);
    return FMinimalDebugInfo;
}

std::array<uint32_t, 3> TBugReport::Checksums() {
    std::lock_guard lock(FChecksumLock);
    return FChecksums;
}

std::string TBugReport::ReportText(bool complete) {
    TRef<IMEFields> header = Header();
    TRef<IMEFields> sections = Sections();
    // A change handler called from inside a step cannot wait for the step: it gets the text as far as it is.
    if (complete && !FComplete && !FAbort && FStepThread.load() != std::this_thread::get_id()) {
        if (FRunner)
            FRunner->Wait(*this);
        else
            RunCompletion();
    }
    std::lock_guard lock(FTextLock);
    if (FTextEdited) return FCachedText;
    const uint64_t h = FHeader->Generation(), s = FSections->Generation();
    if (h == FCachedHeaderGen && s == FCachedSectionsGen) return FCachedText;
    std::string text = RenderReport(*header, *sections);
    // Kept only if nothing changed while it was made; else the next call renders again.
    if (FHeader->Generation() == h && FSections->Generation() == s) {
        FCachedText = text;
        FCachedHeaderGen = h;
        FCachedSectionsGen = s;
    }
    return text;
}

void TBugReport::SetReportText(std::string text) {
    {
        std::lock_guard lock(FTextLock);
        FCachedText = std::move(text);
        FTextEdited = true;
    }
    FieldsChanged();
}

std::string TBugReport::ExpandVariables(ITextVariableSource* source, std::string_view text) {
    std::string message =
        FException.Kind == TExceptionKind::Frozen ? FSources.Settings->GetFrozenMsg() : FException.Message;
    if (TrimField(message).empty()) message = "Unknown";
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    // Rendering is not free: only when the text asks for it.
    std::string report = lower.find("%bugreport%") != std::string::npos ? ReportText(false) : std::string();
    return ExpandTextVariables(text, source, &message, &report);
}

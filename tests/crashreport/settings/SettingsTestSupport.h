#pragma once
// Helpers of the settings tests: hand-made streams, a recording error sink, a fixed variable
// source, and running the stream compiler.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "crashreport/settings/Settings.h"

class TStreamBuilder {
public:
    TStreamBuilder() {
        auto sig = SettingsStreamSignature();
        FData.assign(sig.begin(), sig.end());
    }
    TStreamBuilder& Name(std::string_view name) {
        FData.push_back(static_cast<uint8_t>(name.size()));
        FData.insert(FData.end(), name.begin(), name.end());
        return *this;
    }
    TStreamBuilder& Bytes(std::initializer_list<uint8_t> bytes) {
        FData.insert(FData.end(), bytes.begin(), bytes.end());
        return *this;
    }
    TStreamBuilder& U32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            FData.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    TStreamBuilder& Bool(std::string_view name, bool v) { return Name(name).Bytes({v ? vaTrue : vaFalse}); }
    TStreamBuilder& Int32(std::string_view name, int32_t v) {
        return Name(name).Bytes({vaInt32}).U32(static_cast<uint32_t>(v));
    }
    TStreamBuilder& Short(std::string_view name, std::string_view text) {
        Name(name).Bytes({vaString}).Name(text);
        return *this;
    }
    TStreamBuilder& End() { return Bytes({0}); }
    const std::vector<uint8_t>& Data() const { return FData; }

private:
    std::vector<uint8_t> FData;
};

class TRecordingSink : public IInternalErrorSink {
public:
    void ShowInternalError(std::string_view text, std::string_view caption) override {
        Messages.emplace_back(std::string(caption) + ": " + std::string(text));
    }
    std::vector<std::string> Messages;
};

class TFixedVariables : public TRefCountedImpl<ITextVariableSource> {
public:
    std::string AppName() override { return App; }
    std::string ModName() override { return Mod; }
    std::string ModVersion() override { return Version; }
    TLocalTime Now() override {
        ++NowCalls;
        return Time;
    }
    std::string UserAppData() override { return UserData; }
    std::string CommonAppData() override { return CommonData; }
    std::string ExeFolder() override { return Exe; }

    std::string App = "LevelEditor.exe", Mod = "LevelEditor.exe", Version = "1.0.0.1";
    TLocalTime Time{2006, 5, 14, 8, 2, 11, 32};
    std::string UserData = "C:\\Users\\ze\\AppData\\Roaming\\", CommonData, Exe = "C:\\Games\\Zembrak";
    int NowCalls = 0;
};

inline TSettingsLoader LoaderOf(std::vector<uint8_t> data) {
    return [data = std::move(data)](std::vector<uint8_t>& out) {
        out = data;
        return true;
    };
}

// Runs tools/compile_stream.py on source text; an empty result means the tool failed.
inline std::vector<uint8_t> CompileStreamSource(const std::string& source, const std::string& tag) {
    std::string base = ::testing::TempDir() + "ze_stream_" + tag + "_" + std::to_string(getpid());
    { std::ofstream(base + ".txt", std::ios::binary) << source; }
    // The system interpreter starts much faster than a version manager's shim.
    const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    std::string cmd = std::string(python) + " \"" ZE_SOURCE_DIR "/tools/compile_stream.py\" \"" + base +
                      ".txt\" -o \"" + base + ".bin\" 2>\"" + base + ".err\"";
    std::vector<uint8_t> out;
    if (std::system(cmd.c_str()) == 0) {
        std::ifstream in(base + ".bin", std::ios::binary);
        out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove((base + ".txt").c_str());
    std::remove((base + ".bin").c_str());
    std::remove((base + ".err").c_str());
    return out;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

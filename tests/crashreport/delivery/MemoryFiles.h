#pragma once
// Attachment files held in memory for the delivery tests, with reads that can be made to fail
// at a chosen offset and to come back short; and a progress log.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "crashreport/base/FileAccess.h"
#include "crashreport/delivery/DeliveryProgress.h"

namespace DeliveryTest {

// The progress an engine reports, as "S " per stage done and "Pn " per position.
class TRecorder : public IDeliveryProgress {
public:
    void StageDone() override {
        Log += "S ";
        ++Stages;
    }
    void SetStagePosition(int32_t p) override { Log += "P" + std::to_string(p) + " "; }
    std::string Log;
    int Stages = 0;
};

struct TMemoryFile {
    std::string Bytes;
    uint64_t FailAt = UINT64_MAX; // a read that would reach this offset fails
    size_t MaxRead = SIZE_MAX;    // reads give at most this many bytes
};

class TMemoryFiles : public IFileAccess {
public:
    std::map<std::string, TMemoryFile> Files;

    std::unique_ptr<IFileReader> OpenRead(const std::string& path) override {
        auto it = Files.find(path);
        if (it == Files.end()) return nullptr;
        return std::make_unique<TReader>(it->second);
    }
    std::unique_ptr<IFileWriter> Create(const std::string&) override { return nullptr; }
    bool Delete(const std::string& path) override { return Files.erase(path) > 0; }

private:
    class TReader : public IFileReader {
    public:
        explicit TReader(const TMemoryFile& f) : File(f) {}
        bool Info(TFileInfo& info) override {
            info.Size = File.Bytes.size();
            return true;
        }
        bool Read(void* buffer, size_t count, size_t& done) override {
            done = std::min({count, File.MaxRead, File.Bytes.size() - At});
            if (done && At + done > File.FailAt) return false;
            std::memcpy(buffer, File.Bytes.data() + At, done);
            At += done;
            return true;
        }

    private:
        const TMemoryFile& File;
        size_t At = 0;
    };
};

} // namespace DeliveryTest

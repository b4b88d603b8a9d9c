#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>

#include "crashreport/base/FileAccessPosix.h"
#include "crashreport/delivery/zip/ZipWriter.h"
#include "tests/crashreport/bitmap/ExternalTools.h"

namespace {

using namespace ExternalTools;

// Lists every entry as Python's zipfile sees it, checking its CRC against the original file.
const char* ListScript = R"(import sys, zipfile, zlib, time, os
zf = zipfile.ZipFile(sys.argv[1])
bad = zf.testzip()
print('testzip', bad)
originals = sys.argv[2:]
for info, orig in zip(zf.infolist(), originals):
    data = open(orig, 'rb').read()
    t = time.localtime(os.stat(orig).st_mtime)
    want = (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec // 2 * 2)
    print(info.filename, info.file_size, info.compress_type, info.CRC == zlib.crc32(data),
          zf.read(info) == data, info.date_time == want, hex(info.external_attr),
          info.create_version, info.extract_version, info.create_system)
)";

void SetMTime(const std::string& path, int year, int mon, int day, int hour, int min, int sec) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    t.tm_isdst = -1;
    const utimbuf times{std::mktime(&t), std::mktime(&t)};
    ::utime(path.c_str(), &times);
}

class ZipTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HaveTool("unzip")) << "package unzip";
        WriteText(Dir / "report.txt", "date/time          : 2024-01-01\r\nexception message  : boom\r\n");
        WriteText(Dir / "empty.txt", "");
        std::vector<uint8_t> noise(200 * 1024);
        uint32_t seed = 5;
        for (uint8_t& b : noise)
            b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
        WriteBytes(Dir / "big.bin", noise);
        SetMTime(Dir / "report.txt", 2023, 6, 15, 13, 45, 31);
        SetMTime(Dir / "big.bin", 2001, 2, 3, 4, 5, 6);
        ::chmod((Dir / "empty.txt").c_str(), 0444);
    }

    TTempDir Dir;
    TPosixFileAccess Files;
};

TEST_F(ZipTest, IndependentReadersSeeNamesSizesCrcsDatesAndAttributes) {
    const std::string archive = Dir / "out.zip";
    ASSERT_TRUE(WriteZipArchive(Files, archive,
                                {Dir / "report.txt", Dir / "missing.txt", Dir / "big.bin", Dir / "empty.txt"},
                                {"BugReport.txt", "x.txt", "", "leer.txt"}));
    int status = 0;
    std::string out = RunCommand("unzip -t " + Quote(archive), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;

    WriteText(Dir / "list.py", ListScript);
    out = RunCommand(std::string(SystemPython) + " " + Quote(Dir / "list.py") + " " + Quote(archive) + " " +
                         Quote(Dir / "report.txt") + " " + Quote(Dir / "big.bin") + " " +
                         Quote(Dir / "empty.txt"),
                     &status);
    EXPECT_EQ(status, 0) << out;
    // The missing input is skipped; an empty name falls back to the file's name part.
    EXPECT_EQ(out, "testzip None\n"
                   "BugReport.txt 60 8 True True True 0x20 20 20 0\n"
                   "big.bin 204800 8 True True True 0x20 20 20 0\n"
                   "leer.txt 0 8 True True True 0x21 20 20 0\n");
}

TEST_F(ZipTest, NothingToPackLeavesNoArchive) {
    const std::string archive = Dir / "out.zip";
    WriteText(archive, "old archive");
    EXPECT_FALSE(WriteZipArchive(Files, archive, {Dir / "missing1", Dir / "missing2"}, {}));
    EXPECT_FALSE(std::filesystem::exists(archive));
    EXPECT_FALSE(WriteZipArchive(Files, Dir / "no/such/folder.zip", {Dir / "report.txt"}, {}));
}

// Real files underneath, with failures switched in.
class TFaultyFiles : public IFileAccess {
public:
    explicit TFaultyFiles(IFileAccess& inner) : Inner(inner) {}
    size_t WriteBudget = SIZE_MAX; // bytes the archive may take before writes fail
    bool FailClose = false;
    std::string FailReading; // this input breaks off after its first bytes
    std::vector<std::string> Deleted;

    std::unique_ptr<IFileReader> OpenRead(const std::string& path) override {
        auto r = Inner.OpenRead(path);
        if (r && path == FailReading) return std::make_unique<TBrokenReader>(std::move(r));
        return r;
    }
    std::unique_ptr<IFileWriter> Create(const std::string& path) override {
        auto w = Inner.Create(path);
        return w ? std::make_unique<TLimitedWriter>(std::move(w), *this) : nullptr;
    }
    bool Delete(const std::string& path) override {
        Deleted.push_back(path);
        return Inner.Delete(path);
    }

private:
    struct TBrokenReader : IFileReader {
        explicit TBrokenReader(std::unique_ptr<IFileReader> r) : R(std::move(r)) {}
        bool Info(TFileInfo& info) override { return R->Info(info); }
        bool Read(void* buffer, size_t count, size_t& done) override {
            if (Calls++) return false;
            return R->Read(buffer, std::min<size_t>(count, 10), done);
        }
        std::unique_ptr<IFileReader> R;
        int Calls = 0;
    };
    struct TLimitedWriter : IFileWriter {
        TLimitedWriter(std::unique_ptr<IFileWriter> w, TFaultyFiles& owner) : W(std::move(w)), Owner(owner) {}
        bool Write(const void* data, size_t count) override {
            if (count > Owner.WriteBudget) return false;
            Owner.WriteBudget -= count;
            return W->Write(data, count);
        }
        bool Close() override { return W->Close() && !Owner.FailClose; }
        std::unique_ptr<IFileWriter> W;
        TFaultyFiles& Owner;
    };
    IFileAccess& Inner;
};

TEST_F(ZipTest, WriteOrCloseFailureDeletesTheArchive) {
    const std::string archive = Dir / "out.zip";
    const std::vector<std::string> inputs = {Dir / "report.txt", Dir / "big.bin"};
    ASSERT_TRUE(WriteZipArchive(Files, archive, inputs, {}));
    const size_t whole = size_t(std::filesystem::file_size(archive));
    // In the first header, the first name, the large data, and the last byte of the end record.
    for (size_t budget : {size_t(0), size_t(40), size_t(150 * 1024), whole - 1}) {
        TFaultyFiles fs(Files);
        fs.WriteBudget = budget;
        EXPECT_FALSE(WriteZipArchive(fs, archive, inputs, {})) << budget;
        EXPECT_EQ(fs.Deleted, std::vector<std::string>{archive});
        EXPECT_FALSE(std::filesystem::exists(archive));
    }
    TFaultyFiles fs(Files);
    fs.FailClose = true;
    EXPECT_FALSE(WriteZipArchive(fs, archive, inputs, {}));
    EXPECT_FALSE(std::filesystem::exists(archive));
}

TEST_F(ZipTest, InputThatCannotBeReadInFullIsSkipped) {
    const std::string archive = Dir / "out.zip";
    TFaultyFiles fs(Files);
    fs.FailReading = Dir / "big.bin";
    ASSERT_TRUE(WriteZipArchive(fs, archive, {Dir / "big.bin", Dir / "report.txt"}, {}));
    EXPECT_TRUE(fs.Deleted.empty());
    const std::string out = RunCommand("unzip -l " + Quote(archive));
    EXPECT_EQ(out.find("big.bin"), std::string::npos) << out;
    EXPECT_NE(out.find("report.txt"), std::string::npos) << out;
}

TEST(ZipWriter, DosDateTimeClampsToItsRange) {
    EXPECT_EQ(DosDateTime({2023, 6, 15, 13, 45, 31}),
              uint32_t((43 << 9 | 6 << 5 | 15) << 16 | (13 << 11 | 45 << 5 | 15)));
    EXPECT_EQ(DosDateTime({1970, 1, 1, 0, 0, 0}), uint32_t((0 << 9 | 1 << 5 | 1) << 16));
    EXPECT_EQ(DosDateTime({2200, 1, 1, 0, 0, 0}),
              uint32_t((127 << 9 | 12 << 5 | 31) << 16 | (23 << 11 | 59 << 5 | 29)));
}

} // namespace

// zipmake: writes a ZIP archive with the crash reporter's writer.
// Usage: zipmake ARCHIVE.zip FILE[=ENTRYNAME]...   (without a name the file's name part is used)
#include <cstdio>
#include <string>
#include <vector>

#include "crashreport/base/FileAccessPosix.h"
#include "crashreport/delivery/zip/ZipWriter.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: zipmake ARCHIVE.zip FILE[=ENTRYNAME]...\n");
        return 2;
    }
    std::vector<std::string> files, names;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        files.push_back(arg.substr(0, eq));
        names.push_back(eq == std::string::npos ? std::string() : arg.substr(eq + 1));
    }
    TPosixFileAccess fs;
    if (!WriteZipArchive(fs, argv[1], files, names)) {
        std::fprintf(stderr, "zipmake: no archive written (no readable input, or a write failed)\n");
        return 1;
    }
    return 0;
}

// Stands in for a registered mailto: handler: writes the command line it was started with to
// the file named by ZE_RECORD_FILE, whole once it is there.
#include <windows.h>

#include <string>

int main() {
    char out[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableA("ZE_RECORD_FILE", out, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    const std::string line = std::string(::GetCommandLineA()) + "\n";
    const std::string part = std::string(out) + ".part";
    HANDLE f =
        ::CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const bool ok =
        ::WriteFile(f, line.data(), DWORD(line.size()), &written, nullptr) && written == line.size();
    ::CloseHandle(f);
    return ok && ::MoveFileExA(part.c_str(), out, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

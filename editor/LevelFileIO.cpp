// Reading and writing the level file of the main window. A save writes a temporary file in the
// same folder and replaces the old file only when the new one is complete.
#include "editor/Unit1.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "level/LevelFile.h"

#include <vector>

namespace {

std::wstring FolderOf(const std::wstring& path) {
    size_t p = path.find_last_of(L"\\/");
    if (p == std::wstring::npos) return L".";
    return p == 0 ? path.substr(0, 1) : path.substr(0, p);
}

[[noreturn]] void RaiseWriteError(const std::string& fileName, DWORD error) {
    RaiseFileCreateError("Die Datei '" + fileName + "' kann nicht geschrieben werden. " +
                         SysErrorMessage(error));
}

} // namespace

bool TForm1::SaveLevel() {
    ComputeContentIndexes(Level);
    if (auto error = CheckLevelRanges(Level)) {
        Application().MessageBox(LevelRangeErrorText(*error), "Fehler", MB_OK | MB_ICONERROR);
        return false;
    }
    std::vector<uint8_t> bytes = EncodeLevel(Level);

    std::wstring path = Widen(Level.FileName);
    wchar_t temp[MAX_PATH + 1];
    if (!::GetTempFileNameW(FolderOf(path).c_str(), L"lvl", 0, temp))
        RaiseWriteError(Level.FileName, ::GetLastError());
    DWORD error = ERROR_SUCCESS;
    {
        TFileHandle file(
            ::CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file)
            error = ::GetLastError();
        else if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr) ||
                 written != bytes.size() || !::FlushFileBuffers(file.Get()))
            error = ::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT;
    }
    if (error == ERROR_SUCCESS &&
        !::MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = ::GetLastError();
    if (error != ERROR_SUCCESS) {
        ::DeleteFileW(temp);
        RaiseWriteError(Level.FileName, error);
    }
    Level.Saved = true;
    return true;
}

void TForm1::LoadLevel() {
    TFileHandle file(::CreateFileW(Widen(Level.FileName).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        RaiseFileOpenError("Die Datei '" + Level.FileName + "' kann nicht geöffnet werden. " +
                           SysErrorMessage(::GetLastError()));
    // Tens of thousands of stones: one canvas refresh at the end, not one per stone.
    Level.BeginUpdate();
    LevelImage->BeginUpdate();
    struct TEndUpdate {
        TLevel& L;
        TLevelCanvas& C;
        ~TEndUpdate() {
            C.EndUpdate();
            L.EndUpdate();
        }
    } endUpdate{Level, *LevelImage};
    TLevelReader reader(Level, [this](TLevel&) { return CreateStone(); });
    std::vector<uint8_t> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            RaiseInOutError("Lesefehler in '" + Level.FileName + "'. " + SysErrorMessage(::GetLastError()));
        if (got == 0 || !reader.Feed(buffer.data(), got)) break;
    }
    reader.Finish();
    Level.Saved = true;
    ResizeCanvas();
}

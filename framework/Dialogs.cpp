#include "framework/Dialogs.h"

#include "framework/Win32Util.h"

#include <commdlg.h>

TFileDialog::TFileDialog(bool save, std::string filter, TFileDialogOptions options)
    : Filter(std::move(filter)), Options(options), FSave(save) {}

bool TFileDialog::Execute(HWND owner) {
    std::wstring filter = Widen(Filter);
    for (wchar_t& c : filter)
        if (c == L'|') c = L'\0';
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    std::wstring file(32768, L'\0');
    std::wstring initial = Widen(FileName);
    if (initial.size() < file.size()) std::copy(initial.begin(), initial.end(), file.begin());

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    if (Options.HideReadOnly) ofn.Flags |= OFN_HIDEREADONLY;
    if (Options.PathMustExist) ofn.Flags |= OFN_PATHMUSTEXIST;
    if (Options.FileMustExist) ofn.Flags |= OFN_FILEMUSTEXIST;
    if (Options.OverwritePrompt) ofn.Flags |= OFN_OVERWRITEPROMPT;
    BOOL ok = FSave ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
    if (!ok) return false;
    FileName = Narrow(file.c_str());
    return true;
}

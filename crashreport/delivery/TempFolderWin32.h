#pragma once
// The crash reporter's temporary folder: the report copy, the screenshot and the archives a send
// is made of. One per process ("xunExcept" and the process id in the user's temporary folder),
// so two crashing programs never share a file.
#include <windows.h>

#include <string>

// The folder with a trailing backslash, created when it is missing; empty when it cannot be made.
std::wstring CrashTempFolder();

// Deletes the files of earlier reports; left alone while a send still uses them.
void ClearCrashTempFolder();

// Marks a send that uses the folder's files for its lifetime.
class TTempFolderUse {
public:
    TTempFolderUse();
    ~TTempFolderUse();
    TTempFolderUse(const TTempFolderUse&) = delete;
    TTempFolderUse& operator=(const TTempFolderUse&) = delete;
};

#pragma once
// The common open and save dialogs.
#include <windows.h>

#include <string>

struct TFileDialogOptions {
    bool HideReadOnly = true;
    bool PathMustExist = true;
    bool FileMustExist = false;
    bool OverwritePrompt = false;
};

class TFileDialog {
public:
    TFileDialog(bool save, std::string filter, TFileDialogOptions options);
    // "Description|pattern|Description|pattern", as the filter is written.
    std::string Filter;
    TFileDialogOptions Options;
    std::string FileName; // UTF-8 full path after Execute
    // Shows the dialog; false when the user cancels.
    bool Execute(HWND owner);

private:
    bool FSave;
};

class TOpenDialog : public TFileDialog {
public:
    TOpenDialog(std::string filter, TFileDialogOptions options)
        : TFileDialog(false, std::move(filter), options) {}
};

class TSaveDialog : public TFileDialog {
public:
    TSaveDialog(std::string filter, TFileDialogOptions options)
        : TFileDialog(true, std::move(filter), options) {}
};

// Program start and the main loop.
#include "crashreport/capture/CrashReporterWin32.h"
#include "editor/ProgramStart.h"
#include "editor/Unit1.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"

#include <commctrl.h>
#include <memory>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The crash reporter first: from here on every exception the editor does not handle itself
    // is caught, reported and shown in its dialog.
    const bool reporting = StartCrashReporter(::GetModuleHandleW(nullptr));
    if (reporting)
        Application().OnException = [](std::exception_ptr e) {
            CatchLanguageException(e, CatchApplicationHandle, true);
        };
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    Application().SetTitle("Zembrak LevelEditor");

    std::unique_ptr<TForm1> form;
    try {
        form = std::make_unique<TForm1>();
    } catch (...) {
        if (reporting)
            CatchLanguageException(std::current_exception(), CatchApplicationShow, false);
        else
            Application().ShowException(std::current_exception());
        return 1;
    }
    Application().MainForm = form.get();

    // A level file named on the command line opens as Open would, without the dialog.
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::string path = argc > 1 && argv ? Narrow(argv[1]) : std::string();
    if (argv) ::LocalFree(argv);

    Running = true;
    form->ShowMaximized();
    if (!path.empty()) OpenFileFromCommandLine(*form, path);
    while (Running)
        Application().Run();
    form.reset();
    if (reporting) StopCrashReporter();
    return 0;
}

#include "editor/ProgramStart.h"

#include "editor/Unit1.h"
#include "framework/Application.h"

bool OpenFileFromCommandLine(TForm1& form, const std::string& path) {
    try {
        form.OpenLevelFile(path);
        return true;
    } catch (const std::exception& e) {
        Application().MessageBox("Die Leveldatei '" + path + "' kann nicht geöffnet werden.\n\n" + e.what() +
                                     "\n\nDer LevelEditor beginnt mit einem neuen Level.",
                                 "Zembrak LevelEditor", MB_OK | MB_ICONERROR);
        // Whatever was read before the error goes; nothing of it was the user's work.
        form.Level.Saved = true;
        form.NewMenuClick(&form);
        return false;
    }
}

#pragma once
// What the program does at start besides creating its windows.
#include <string>

class TForm1;

// Opens the level file named on the command line as Open does, without the dialog. A file that
// cannot be read is reported in a German message box, and the program goes on with a new level.
// Returns whether the file was opened.
bool OpenFileFromCommandLine(TForm1& form, const std::string& path);

#pragma once
// The thread-creation hooks: the program's imports of the thread-opening entry points (plain and
// remote thread creation, the runtime's thread start, work items of the system pool) lead here,
// so that every new thread is entered into the thread registry with its creator and creation
// address before its procedure runs.
#include <windows.h>

// Redirects the imports of `module`; every patch is recorded and undone by RemoveThreadHooks.
void InstallThreadHooks(HMODULE module);
void RemoveThreadHooks();

// The calling thread was started through the hooks: an exception escaping it ends only this
// thread (unless it is the process's first).
bool IsHookedThread();

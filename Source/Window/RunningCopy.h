#pragma once

// Finding the window of a copy of this program that already runs, so that a second copy and
// "--quit" talk to it and to nothing else: any program of the desktop may make a window of the same
// class, and a message meant for Velotrix must not reach it. A window counts only when its process
// runs the same program file.

#include <windows.h>

#include <string>

namespace Velotrix {

// Whether two full paths of program files name the same file as Windows compares file names: letter
// case aside, and with or without the "\\?\" prefix. An empty path names no file.
bool SameProgramFile(const std::wstring& one, const std::wstring& other);

// The full path of the program file that the process runs, as Windows reports it; empty when the
// process cannot be asked (gone, or not ours to look at).
std::wstring ProgramFileOf(DWORD processId);

// The top-level window of class `className` whose process runs `programFile`; null when none does.
HWND FindCopyWindow(const wchar_t* className, const std::wstring& programFile);

// The program file this process runs, in the form ProgramFileOf gives for other processes.
std::wstring ThisProgramFile();

// A second copy's request: lets the window of class `className` that runs `programFile` take the
// foreground and posts WM_APP_ACTIVATE to it. False when no such window exists (nothing is posted).
bool ActivateCopy(const wchar_t* className, const std::wstring& programFile);

// "--quit": posts WM_APP_QUIT to the window of class `className` that runs `programFile` and waits up
// to `waitMs` for its process to end. 0 when no such copy runs any more, 1 when it still ran at the end
// of the wait.
int QuitCopy(const wchar_t* className, const std::wstring& programFile, DWORD waitMs);

} // namespace Velotrix

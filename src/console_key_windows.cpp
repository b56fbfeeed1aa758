// The key press on Windows: the console's own input events, read one at a
// time, so that the program, not the C runtime or the console host, decides
// what a key is. (The runtime's _getch skips some keys and returns others in
// two parts, and wine's runtime differs from Microsoft's in which.)
//
// - A key press ends the wait if it types a character or is a named key
//   (arrows, F1 to F12, Home, Escape...). A modifier or lock key alone, a
//   key's release, the mouse, focus and resizing are no key.
// - For the wait, the console's processing of Ctrl+C and its VT input (which
//   another program may have left on, and which sends an arrow as ESC [ A, one
//   event a character) are turned off. Ctrl+C and Ctrl+Break end the program as
//   the console ends a console program: status STATUS_CONTROL_C_EXIT (cmd's
//   %ERRORLEVEL% and PowerShell's $LASTEXITCODE show -1073741510). The input
//   mode is put back as found on every way out, by the signal's handler too.
// - What follows the key stays in the console's buffer, for the shell.
// - Nobody can press a key on a console without a window (CREATE_NO_WINDOW),
//   without a console (DETACHED_PROCESS), or in a window station that is not
//   visible (a service, or a task run whether the user is logged on or not):
//   there is no wait. A pseudo-console (Windows Terminal, an OpenSSH session)
//   has a stand-in window, and a person at it.
// - Where the console's mode cannot be had or changed, the wait reads keys
//   with the mode as found; where the console cannot be read, the wait ends.
//   A mode that cannot be put back is reported.

#include <windows.h>

#include "console_key.hpp"

#ifndef ENABLE_VIRTUAL_TERMINAL_INPUT
#define ENABLE_VIRTUAL_TERMINAL_INPUT 0x0200
#endif

namespace {

// The console's input and its mode as found, for the signal's handler too.
HANDLE console_input = INVALID_HANDLE_VALUE;
DWORD mode_as_found = 0;

// Runs in a thread of its own on Ctrl+Break (and Ctrl+C where the console
// host signals it whatever the mode, as wine's does), on closing the window
// and on logging off: puts the input mode back as found before the end.
BOOL WINAPI OnConsoleSignal(DWORD signal)
{
    SetConsoleMode(console_input, mode_as_found);
    if (signal == CTRL_C_EVENT || signal == CTRL_BREAK_EVENT) {
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return FALSE; // the system's handler, next, ends the process
}

bool IsModifierOrLock(WORD virtual_key)
{
    switch (virtual_key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return true;
    default:
        return false;
    }
}

enum class Event { NoKey, Key, Interrupt };

Event Classify(const INPUT_RECORD& record)
{
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
        return Event::NoKey;
    }
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    constexpr wchar_t control_c = 0x03;
    if (key.uChar.UnicodeChar == control_c || key.wVirtualKeyCode == VK_CANCEL) {
        return Event::Interrupt;
    }
    if (key.uChar.UnicodeChar != 0) {
        return Event::Key;
    }
    return key.wVirtualKeyCode != 0 && !IsModifierOrLock(key.wVirtualKeyCode) ? Event::Key : Event::NoKey;
}

// The function `name` of `module`, as its own type.
template <typename Function> Function* Find(HMODULE module, const char* name)
{
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Whether this process's window station is one that a person can see. Asked
// only before a wait, of user32.dll loaded from the system folder alone, so
// that the program starts with no more than it needs and no DLL beside it is
// ever loaded. Where it cannot be asked, it is taken as visible.
bool StationIsVisible()
{
    const HMODULE user32 = LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (user32 == nullptr) {
        return true;
    }
    const auto process_station = Find<decltype(GetProcessWindowStation)>(user32, "GetProcessWindowStation");
    const auto object_information
        = Find<decltype(GetUserObjectInformationW)>(user32, "GetUserObjectInformationW");
    USEROBJECTFLAGS flags{};
    const HWINSTA station = process_station != nullptr ? process_station() : nullptr;
    const bool answered = station != nullptr && object_information != nullptr
        && object_information(station, UOI_FLAGS, &flags, sizeof flags, nullptr);
    FreeLibrary(user32);
    return !answered || (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Reads events until one ends the wait; NoKey where the console cannot be read.
Event ReadUntilAKey()
{
    for (;;) {
        INPUT_RECORD record{};
        DWORD got = 0;
        if (!ReadConsoleInputW(console_input, &record, 1, &got)) {
            return Event::NoKey;
        }
        const Event event = got == 1 ? Classify(record) : Event::NoKey;
        if (event != Event::NoKey) {
            return event;
        }
    }
}

} // namespace

int WaitForKey()
{
    if (GetConsoleWindow() == nullptr || !StationIsVisible()) {
        return 0;
    }
    console_input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, 0, nullptr);
    if (console_input == INVALID_HANDLE_VALUE) {
        return 0;
    }
    constexpr DWORD turned_off = ENABLE_PROCESSED_INPUT | ENABLE_VIRTUAL_TERMINAL_INPUT;
    const bool mode_changed = GetConsoleMode(console_input, &mode_as_found)
        && SetConsoleCtrlHandler(OnConsoleSignal, TRUE)
        && SetConsoleMode(console_input, mode_as_found & ~turned_off);

    const Event event = ReadUntilAKey();

    int restore_error = 0;
    if (mode_changed && !SetConsoleMode(console_input, mode_as_found)) {
        restore_error = static_cast<int>(GetLastError());
    }
    SetConsoleCtrlHandler(OnConsoleSignal, FALSE);
    CloseHandle(console_input);
    if (event == Event::Interrupt && restore_error == 0) {
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return restore_error;
}

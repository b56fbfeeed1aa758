// The key press on Windows: the console's own input events, read one at a
// time, so that the program, not the C runtime or the console host, decides
// what a key is (the README's Windows section says which). The runtime's
// _getch skips some keys and returns others in two parts, and wine's runtime
// differs from Microsoft's in which.

#include <windows.h>

#include "console_key.hpp"

#ifndef ENABLE_VIRTUAL_TERMINAL_INPUT
#define ENABLE_VIRTUAL_TERMINAL_INPUT 0x0200
#endif

namespace {

// The console's input and its mode as found, for the signal's handler too,
// which runs in a thread of its own: the lock keeps the wait from closing the
// input while the handler puts the mode back.
SRWLOCK input_lock = SRWLOCK_INIT;
HANDLE console_input = INVALID_HANDLE_VALUE;
DWORD mode_as_found = 0;

// On Ctrl+C and Ctrl+Break, on closing the window and on logging off: puts
// the input mode back as found before the end.
BOOL WINAPI OnConsoleSignal(DWORD signal)
{
    AcquireSRWLockExclusive(&input_lock);
    if (console_input != INVALID_HANDLE_VALUE) {
        SetConsoleMode(console_input, mode_as_found);
    }
    ReleaseSRWLockExclusive(&input_lock);
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

// user32.dll from the system folder, by its full path: never a DLL beside the
// program, and LOAD_LIBRARY_SEARCH_SYSTEM32 fails on a Windows 7 without its
// 2011 loader update.
HMODULE LoadUser32()
{
    constexpr wchar_t name[] = L"\\user32.dll";
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + sizeof name / sizeof name[0] > MAX_PATH) {
        return nullptr;
    }
    lstrcatW(path, name);
    return LoadLibraryW(path);
}

// Whether this process's window station is one that a person can see. Asked
// only before a wait, so that the program starts with no more than it needs.
// Where it cannot be asked, it is taken as visible.
bool StationIsVisible()
{
    const HMODULE user32 = LoadUser32();
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
    // Ctrl+C is the console's signal during the wait, whatever another
    // program left: a console that reads a terminal (wine's) may take it from
    // the terminal as a signal, and drop it where processed input is off. A
    // Ctrl+C that comes as a key all the same ends the program alike.
    const bool mode_changed = GetConsoleMode(console_input, &mode_as_found)
        && SetConsoleCtrlHandler(OnConsoleSignal, TRUE)
        && SetConsoleMode(console_input,
            (mode_as_found | ENABLE_PROCESSED_INPUT) & ~ENABLE_VIRTUAL_TERMINAL_INPUT);

    const Event event = ReadUntilAKey();

    int restore_error = 0;
    AcquireSRWLockExclusive(&input_lock);
    if (mode_changed && !SetConsoleMode(console_input, mode_as_found)) {
        restore_error = static_cast<int>(GetLastError());
    }
    CloseHandle(console_input);
    console_input = INVALID_HANDLE_VALUE;
    ReleaseSRWLockExclusive(&input_lock);
    SetConsoleCtrlHandler(OnConsoleSignal, FALSE);
    if (event == Event::Interrupt && restore_error == 0) {
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return restore_error;
}

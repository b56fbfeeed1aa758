// Runs countdown.exe the way a script or a scheduled task would, with no
// console or with one that has no window, and checks what it writes and how it
// ends. Every Windows process start is slow under emulation, so one process
// makes all the runs.
//
// With --at-the-console, runs it instead once for each STDIN given (console:
// as typed at cmd; nul: its standard input from NUL) in this process's own
// console, where the keys typed go to it, and after each run says how it ended
// and what it left for the shell, for a script at the keyboard to check.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../expected_output.hpp"

namespace {

constexpr DWORD guard_ms = 15 * 60 * 1000; // only against a hang

const std::string expected_output = expected::Output("\r\n");

struct Outcome {
    std::string out;
    std::string err;
    DWORD status = 0xffffffff;
};

HANDLE Inheritable(HANDLE handle)
{
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return handle;
}

HANDLE OpenNul()
{
    return CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
        nullptr);
}

std::string ReadAll(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(pipe);
    return text;
}

// Starts `command_line`, its handles inherited, and waits for its end (within
// the guard); its status, or 0xffffffff where it could not start.
DWORD StartAndWait(std::string command_line, STARTUPINFOA& startup, DWORD creation_flags)
{
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, creation_flags, nullptr,
            nullptr, &startup, &process)) {
        std::printf("cannot start %s: error %lu\n", command_line.c_str(), GetLastError());
        return 0xffffffff;
    }
    if (WaitForSingleObject(process.hProcess, guard_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 0xdead);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD status = 0xffffffff;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return status;
}

// Runs the program with `arguments`, started with `creation_flags`; with
// `unwritable_stdout`, its standard output is a file opened for reading only,
// so every write to it fails.
Outcome Run(const std::string& program, const std::string& arguments, bool unwritable_stdout,
    DWORD creation_flags = DETACHED_PROCESS)
{
    HANDLE out_read = nullptr;
    HANDLE out_write = nullptr;
    HANDLE err_read = nullptr;
    HANDLE err_write = nullptr;
    CreatePipe(&out_read, &out_write, nullptr, 65536);
    CreatePipe(&err_read, &err_write, nullptr, 65536);
    HANDLE input = OpenNul();
    if (unwritable_stdout) {
        CloseHandle(out_write);
        out_write = CreateFileA("unwritable-output.tmp", GENERIC_READ, FILE_SHARE_READ, nullptr,
            CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(input);
    startup.hStdOutput = Inheritable(out_write);
    startup.hStdError = Inheritable(err_write);
    Outcome outcome;
    // The pipes hold far more than the child writes, so it never waits on
    // them; once it has ended and this process has closed its writing ends,
    // they read to their end.
    outcome.status = StartAndWait("\"" + program + "\" " + arguments, startup, creation_flags);
    CloseHandle(out_write);
    CloseHandle(err_write);
    CloseHandle(input);
    outcome.out = ReadAll(out_read);
    outcome.err = ReadAll(err_read);
    return outcome;
}

int passed = 0;
int failed = 0;

void Expect(bool ok, const char* what, const Outcome& outcome)
{
    ++(ok ? passed : failed);
    std::printf("%s: %s (status %lu, stdout %zu bytes, stderr \"%s\")\n", ok ? "ok" : "FAILED", what,
        outcome.status, outcome.out.size(), outcome.err.c_str());
}

// The keys waiting in the console's input, as the shell would read them:
// each key press's character, or the virtual key of one without, modifiers
// aside. Takes them out, so that the next run starts with none.
std::string KeysLeft(HANDLE console_input)
{
    std::string keys;
    DWORD waiting = 0;
    while (GetNumberOfConsoleInputEvents(console_input, &waiting) && waiting > 0) {
        INPUT_RECORD record{};
        DWORD got = 0;
        if (!ReadConsoleInputW(console_input, &record, 1, &got) || got != 1) {
            break;
        }
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (record.EventType != KEY_EVENT || !key.bKeyDown) {
            continue;
        }
        if (key.uChar.UnicodeChar != 0) {
            char utf8[8] = {};
            WideCharToMultiByte(CP_UTF8, 0, &key.uChar.UnicodeChar, 1, utf8, sizeof utf8, nullptr, nullptr);
            keys += utf8;
        } else if (key.wVirtualKeyCode < VK_SHIFT || key.wVirtualKeyCode > VK_MENU) {
            keys += "<vk " + std::to_string(key.wVirtualKeyCode) + ">";
        }
    }
    return keys;
}

// Ctrl+C and Ctrl+Break go to every process of the console: this one stays to
// report. (A handler, unlike ignoring them, is not passed on to the program.)
BOOL WINAPI StayForTheReport(DWORD /*signal*/)
{
    return TRUE;
}

int RunAtTheConsole(const std::string& program, int runs, char** stdin_kinds)
{
    SetConsoleCtrlHandler(StayForTheReport, TRUE);
    HANDLE console_input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    KeysLeft(console_input);
    for (int run = 0; run < runs; ++run) {
        // Keys typed since the last report stay: they are typed ahead.
        DWORD mode_before = 0;
        GetConsoleMode(console_input, &mode_before);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        HANDLE nul = INVALID_HANDLE_VALUE;
        if (std::strcmp(stdin_kinds[run], "nul") == 0) {
            nul = OpenNul();
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = Inheritable(nul);
            startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
            startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        }
        const DWORD status = StartAndWait("\"" + program + "\"", startup, 0);
        if (nul != INVALID_HANDLE_VALUE) {
            CloseHandle(nul);
        }
        DWORD mode_after = 0;
        GetConsoleMode(console_input, &mode_after);
        // Whatever else the key sent has arrived by now.
        Sleep(500);
        std::printf("\nended: status 0x%08lx, input mode %s, left for the shell: \"%s\"\n", status,
            mode_after == mode_before ? "as found" : "changed", KeysLeft(console_input).c_str());
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--at-the-console") == 0) {
        return RunAtTheConsole(argv[2], argc - 3, argv + 3);
    }
    if (argc != 2) {
        std::fputs("usage: run_countdown PROGRAM | --at-the-console PROGRAM console|nul...\n", stderr);
        return 2;
    }
    const std::string program = argv[1];

    const Outcome plain = Run(program, "", false);
    Expect(plain.out == expected_output && plain.err.empty() && plain.status == 0,
        "the 112 bytes with CRLF and status 0, with no console to wait on", plain);

    const Outcome with_arguments = Run(program, "--help -h 5 \"x y\" - %d", false);
    Expect(with_arguments.out == expected_output && with_arguments.err.empty() && with_arguments.status == 0,
        "arguments change nothing", with_arguments);

    // A console without a window has nobody at its keyboard: no wait there.
    const Outcome windowless = Run(program, "", false, CREATE_NO_WINDOW);
    Expect(windowless.out == expected_output && windowless.err.empty() && windowless.status == 0,
        "the 112 bytes and status 0 at once, in a console without a window", windowless);

    const Outcome unwritable = Run(program, "", true);
    // The runtime reports a write to a handle opened for reading as EBADF.
    Expect(unwritable.err == "countdown: write error: Bad file descriptor\r\n" && unwritable.status == 1,
        "undelivered output is reported with status 1", unwritable);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

// Runs countdown.exe the way a script or a scheduled task would, with no
// console or with one that has no window, and checks what it writes and how it
// ends. Every Windows process start is slow under emulation, so one process
// makes all the runs.
//
// With --at-the-console, runs it instead once for each START given, in this
// process's own console, where the keys typed go to it, and after each run
// says how it ended and what it left for the shell, for a script at the
// keyboard to check. START is console (as typed at cmd), nul (standard input
// from NUL), hidden-station (in a window station nobody can see: no wait) or
// vt-input (the console's VT input left on by another program: this process
// reads the mode during the wait, then types the key itself) or
// pseudo-console (in a pseudo-console of this process's making, as Windows
// Terminal and OpenSSH start programs: once it waits, an arrow is written to
// the pseudo-console's input as ESC [ A).

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <functional>
#include <regex>
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

// Starts `command_line`, its handles inherited, runs `meanwhile` and waits for
// its end (within the guard); its status, or 0xffffffff where it could not
// start.
DWORD StartAndWait(std::string command_line, STARTUPINFOA& startup, DWORD creation_flags,
    const std::function<void(HANDLE)>& meanwhile = {})
{
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, creation_flags, nullptr,
            nullptr, &startup, &process)) {
        std::printf("cannot start %s: error %lu\n", command_line.c_str(), GetLastError());
        return 0xffffffff;
    }
    if (meanwhile) {
        meanwhile(process.hProcess);
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

enum class Stdout { Captured, ReadOnlyFile, PipeWithoutReader };

// The system's text for why a write to `output` fails, as the program must
// report it.
std::string WriteErrorText(HANDLE output)
{
    DWORD written = 0;
    WriteFile(output, "x", 1, &written, nullptr);
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0,
        text, sizeof text, nullptr);
    std::string reason = text;
    reason.erase(reason.find_last_not_of("\r\n") + 1);
    return "countdown: write error: " + reason + "\r\n";
}

// Runs the program with `arguments`, started with `creation_flags`, its
// standard output captured or one that every write to fails; with such, sets
// `expected_error` to what the program must report.
Outcome Run(const std::string& program, const std::string& arguments, Stdout stdout_to = Stdout::Captured,
    DWORD creation_flags = DETACHED_PROCESS, std::string* expected_error = nullptr)
{
    HANDLE out_read = nullptr;
    HANDLE out_write = nullptr;
    HANDLE err_read = nullptr;
    HANDLE err_write = nullptr;
    CreatePipe(&out_read, &out_write, nullptr, 65536);
    CreatePipe(&err_read, &err_write, nullptr, 65536);
    HANDLE input = OpenNul();
    if (stdout_to == Stdout::ReadOnlyFile) {
        CloseHandle(out_write);
        out_write = CreateFileA("unwritable-output.tmp", GENERIC_READ, FILE_SHARE_READ, nullptr,
            CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    } else if (stdout_to == Stdout::PipeWithoutReader) {
        CloseHandle(out_read);
        out_read = nullptr;
    }
    if (expected_error != nullptr) {
        *expected_error = WriteErrorText(out_write);
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
    outcome.out = out_read != nullptr ? ReadAll(out_read) : "";
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

// A key press and its release, typed into the console as a person would.
void TypeAKey(HANDLE console_input, wchar_t character)
{
    INPUT_RECORD records[2]{};
    for (INPUT_RECORD& record : records) {
        record.EventType = KEY_EVENT;
        record.Event.KeyEvent.wRepeatCount = 1;
        record.Event.KeyEvent.wVirtualKeyCode = static_cast<WORD>(std::towupper(character));
        record.Event.KeyEvent.uChar.UnicodeChar = character;
    }
    records[0].Event.KeyEvent.bKeyDown = TRUE;
    DWORD written = 0;
    WriteConsoleInputW(console_input, records, 2, &written);
}

// What a pseudo-console draws, read as it comes in a thread of its own, so
// that it never waits on the pipe (MinGW's runtime has no std::thread).
struct PseudoScreen {
    HANDLE output;
    std::atomic<bool> drawn; // the countdown's end is on it
};

DWORD WINAPI ReadThePseudoScreen(void* context)
{
    auto& screen = *static_cast<PseudoScreen*>(context);
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(screen.output, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
        // Drawn as the console draws it: a blank by moving one cell on.
        const std::string shown = std::regex_replace(std::regex_replace(text, std::regex("\x1b\\[1?C"), " "),
            std::regex("\x1b\\[[0-9;?]*[ -/]*[@-~]"), "");
        screen.drawn = screen.drawn || shown.find(" 2 1") != std::string::npos;
    }
    return 0;
}

// Runs the program in a pseudo-console of its own and, once it waits, writes
// an arrow to its input; its status, and whether it waited for the arrow.
DWORD RunInAPseudoConsole(const std::string& program, bool& waited)
{
    // Asked of kernel32 at run time: older headers and systems lack it.
    using CreatePseudoConsoleFunction = HRESULT WINAPI(COORD, HANDLE, HANDLE, DWORD, void**);
    using ClosePseudoConsoleFunction = void WINAPI(void*);
    constexpr DWORD_PTR pseudo_console_attribute = 0x00020016; // PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    const auto create
        = reinterpret_cast<CreatePseudoConsoleFunction*>(reinterpret_cast<void*>(GetProcAddress(kernel32,
            "CreatePseudoConsole")));
    const auto close
        = reinterpret_cast<ClosePseudoConsoleFunction*>(reinterpret_cast<void*>(GetProcAddress(kernel32,
            "ClosePseudoConsole")));
    HANDLE input_read = nullptr;
    HANDLE input_write = nullptr;
    HANDLE output_read = nullptr;
    HANDLE output_write = nullptr;
    void* console = nullptr;
    CreatePipe(&input_read, &input_write, nullptr, 0);
    CreatePipe(&output_read, &output_write, nullptr, 0);
    if (create == nullptr || close == nullptr
        || create({120, 25}, input_read, output_write, 0, &console) != S_OK) {
        std::printf("cannot make a pseudo-console\n");
        return 0xffffffff;
    }
    PseudoScreen screen{output_read, false};
    const HANDLE reader = CreateThread(nullptr, 0, ReadThePseudoScreen, &screen, 0, nullptr);
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributes(size, '\0');
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size);
    UpdateProcThreadAttribute(startup.lpAttributeList, 0, pseudo_console_attribute, console, sizeof console,
        nullptr, nullptr);
    const DWORD status = StartAndWait("\"" + program + "\"", startup.StartupInfo,
        EXTENDED_STARTUPINFO_PRESENT, [&](HANDLE process) {
            while (!screen.drawn && WaitForSingleObject(process, 10) == WAIT_TIMEOUT) { }
            // A wait that would end without a key has ended by then.
            waited = WaitForSingleObject(process, 2000) == WAIT_TIMEOUT;
            DWORD written = 0;
            WriteFile(input_write, "\x1b[A", 3, &written, nullptr);
        });
    close(console);
    CloseHandle(input_write);
    CloseHandle(output_write);
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    CloseHandle(input_read);
    CloseHandle(output_read);
    DeleteProcThreadAttributeList(startup.lpAttributeList);
    return status;
}

int RunAtTheConsole(const std::string& program, int runs, char** starts)
{
    SetConsoleCtrlHandler(StayForTheReport, TRUE);
    HANDLE console_input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    KeysLeft(console_input);
    DWORD own_mode = 0;
    GetConsoleMode(console_input, &own_mode);
    constexpr DWORD vt_input = 0x0200; // ENABLE_VIRTUAL_TERMINAL_INPUT
    for (int run = 0; run < runs; ++run) {
        // Keys typed since the last report stay: they are typed ahead.
        const std::string start = starts[run];
        if (start == "vt-input") {
            SetConsoleMode(console_input, own_mode | vt_input);
        }
        DWORD mode_before = 0;
        GetConsoleMode(console_input, &mode_before);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        HANDLE nul = INVALID_HANDLE_VALUE;
        if (start == "nul") {
            nul = OpenNul();
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = Inheritable(nul);
            startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
            startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        }
        // A window station made without WSF_VISIBLE, as a service's is.
        std::string desktop = "countdown-hidden-station\\Default";
        if (start == "hidden-station") {
            CreateWindowStationA("countdown-hidden-station", 0, WINSTA_ALL_ACCESS, nullptr);
            startup.lpDesktop = desktop.data();
        }
        bool vt_input_in_the_wait = false;
        bool waited = true;
        const auto type_once_it_waits = [&](HANDLE process) {
            DWORD mode = mode_before;
            while (mode == mode_before && WaitForSingleObject(process, 10) == WAIT_TIMEOUT) {
                GetConsoleMode(console_input, &mode);
            }
            vt_input_in_the_wait = (mode & vt_input) != 0;
            TypeAKey(console_input, L'k');
        };
        const DWORD status = start == "pseudo-console" ? RunInAPseudoConsole(program, waited)
            : start == "vt-input" ? StartAndWait("\"" + program + "\"", startup, 0, type_once_it_waits)
                                  : StartAndWait("\"" + program + "\"", startup, 0);
        if (nul != INVALID_HANDLE_VALUE) {
            CloseHandle(nul);
        }
        DWORD mode_after = 0;
        GetConsoleMode(console_input, &mode_after);
        SetConsoleMode(console_input, own_mode);
        // Whatever else the key sent has arrived by now.
        Sleep(500);
        const char* mode_found = !waited ? "no wait"
            : vt_input_in_the_wait       ? "VT input on in the wait"
            : mode_after == mode_before  ? "as found"
                                         : "changed";
        std::printf("\nended: status 0x%08lx, input mode %s, left for the shell: \"%s\"\n", status,
            mode_found, KeysLeft(console_input).c_str());
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
        std::fputs("usage: run_countdown PROGRAM | --at-the-console PROGRAM START...\n", stderr);
        return 2;
    }
    const std::string program = argv[1];

    const Outcome plain = Run(program, "");
    Expect(plain.out == expected_output && plain.err.empty() && plain.status == 0,
        "the 112 bytes with CRLF and status 0, with no console to wait on", plain);

    const Outcome with_arguments = Run(program, "--help -h 5 \"x y\" - %d");
    Expect(with_arguments.out == expected_output && with_arguments.err.empty() && with_arguments.status == 0,
        "arguments change nothing", with_arguments);

    // A console without a window has nobody at its keyboard: no wait there.
    const Outcome windowless = Run(program, "", Stdout::Captured, CREATE_NO_WINDOW);
    Expect(windowless.out == expected_output && windowless.err.empty() && windowless.status == 0,
        "the 112 bytes and status 0 at once, in a console without a window", windowless);

    // Undelivered output is reported with the system's own reason.
    for (const Stdout unwritable : {Stdout::ReadOnlyFile, Stdout::PipeWithoutReader}) {
        std::string expected_error;
        const Outcome outcome = Run(program, "", unwritable, DETACHED_PROCESS, &expected_error);
        Expect(outcome.err == expected_error && outcome.status == 1,
            unwritable == Stdout::ReadOnlyFile ? "a file opened for reading only: status 1 and why"
                                               : "a pipe whose reader has gone: status 1 and why",
            outcome);
    }

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

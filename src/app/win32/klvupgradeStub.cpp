// The program entry: the DLL search restricted, the installer window made with its logic,
// the entry sequence, the message loop. The application's default error handler lives here:
// an exception that leaves an event handler is shown in a message box with its message.
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <vector>
#include <windows.h>

#include "app/command_line.h"
#include "app/install_journal.h"
#include "app/run_failures.h"
#include "app/run_log.h"
#include "app/uMain.h"
#include "app/unattended.h"
#include "app/win32/dll_safety.h"
#include "app/win32/stored_caption.h"
#include "app/win32/upgrade_window.h"
#include "platform/machine.h"
#include "platform/system.h"
#include "platform/text.h"
#include "stub_version.h"
#include "util/meldunit.h"
#include "util/texts.h"

#ifdef KLV_TEST_HOOKS
namespace {
// The test build only: KLVUPGRADE_STOP_AFTER_STEP=N ends the process, as if killed, after N
// steps of the switch-over; the end-to-end suites cut runs off with it.
void StopFromEnvironment(int step) {
    const char* value = std::getenv("KLVUPGRADE_STOP_AFTER_STEP");
    if (value && *value && step >= std::atoi(value)) std::_Exit(99);
}
// KLVUPGRADE_FAIL_AT_FIRST_PAINT=1 raises std::bad_alloc when the first paint's work begins.
void FailFromEnvironment() {
    const char* value = std::getenv("KLVUPGRADE_FAIL_AT_FIRST_PAINT");
    if (value && *value) throw std::bad_alloc();
}
// KLVUPGRADE_TOKEN_NOT_ELEVATED=1 takes this process for a standard user's (Wine's token is
// always elevated), so that the relaunch as administrator is offered.
bool TokenFromEnvironment() {
    const char* value = std::getenv("KLVUPGRADE_TOKEN_NOT_ELEVATED");
    return !(value && *value);
}
} // namespace
#endif

namespace klv::app::win32 {

namespace {

// The test build's hooks, set on the run; a shipped program has none.
void SetTestHooks([[maybe_unused]] RunContext& context) {
#ifdef KLV_TEST_HOOKS
    SwitchStepHook = StopFromEnvironment;
    context.FirstPaintHook = FailFromEnvironment;
    if (std::getenv("KLVUPGRADE_TOKEN_NOT_ELEVATED"))
        context.TokenElevatedHook = TokenFromEnvironment;
#endif
}

std::string ModulePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The application's title: the program's file name without its extension.
std::string ApplicationTitle() {
    std::string name = ModulePath();
    const auto slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

// The application's default error handler. An engine error in a window run is shown with its
// message and the window goes on; any other failure, and every failure of a run nobody
// answers, ends the run and the process with its exit code (11 for the unexpected), the
// window run with the Dutch notice.
void ShowApplicationError(Run& run, HWND window, std::exception_ptr error) {
    const std::string text = ExceptionMessage(error);
    Log(LogCategory::Failure, "error: " + text);
    const ExitCode code = ExitCodeFor(error);
    const bool ends = run.Unattended() || code == ExitCode::UnexpectedError;
    if (ends) run.Fail(code, text);
    // A closing sequence may already have asked the loop to end; a box would close at once on
    // that request, so it is taken off the queue while the box is open and made again after.
    MSG quit;
    const bool ending = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    if (!run.Unattended()) {
        const std::string shown =
            code == ExitCode::UnexpectedError ? util::texts::UnexpectedFailure() : text;
        MessageBoxA(window && IsWindowVisible(window) ? window : nullptr, shown.c_str(),
                    ApplicationTitle().c_str(), MB_OK | MB_ICONERROR);
    }
    if (ending)
        PostQuitMessage(static_cast<int>(quit.wParam));
    else if (ends)
        PostQuitMessage(run.ExitValue());
}

void RouteEvent(TUpgradeForm& form, WindowEvent event, Control sender) {
    switch (event) {
    case WindowEvent::Paint:
        form.FormPaint();
        break;
    case WindowEvent::Timer:
        form.Timer1Timer();
        // A silent run, and the run handed over to this copy, start once the first paint has
        // shown the window.
        if (!form.Context().FirstPaint) form.StartByItself();
        break;
    case WindowEvent::Click:
        switch (sender) {
        case Control::bnExtract:
            form.bnExtractClick();
            break;
        case Control::bnExit:
            form.bnExitClick();
            break;
        case Control::bnSelectDestPath:
            form.bnSelectDestPathClick();
            break;
        case Control::zoeklocs:
            form.zoeklocsClick();
            break;
        default:
            break;
        }
        break;
    }
}

// The window carries the run: made with its logic, shown unless the run is very silent, its
// message loop run until the run ends.
void RunWindow(Run& run, HINSTANCE instance, int showCommand) {
    NativeUpgradeWindow window(instance, StoredCaptionText());
    HWND handle = window.Window();
    std::unique_ptr<TUpgradeForm> form;
    try {
        form = std::make_unique<TUpgradeForm>(window, run, ModulePath());
        EntrySequence(*form);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        run.Fail(ExitCode::UnexpectedError, ExceptionMessage(error));
        ShowApplicationError(run, nullptr, error);
        return;
    }
    window.Connect(
        [&form](WindowEvent event, Control sender) { RouteEvent(*form, event, sender); },
        [&run, handle](std::exception_ptr error) { ShowApplicationError(run, handle, error); });
    const bool verySilent = run.options.mode == RunMode::VerySilent;
    if (!verySilent) window.Show(showCommand);
    // COM (the folder dialog, the shell links) is first needed by the first paint's work,
    // which runs from the message loop: starting it after the window is shown keeps it out of
    // the time to the first paint.
    platform::ComApartment com;
    if (verySilent) {
        try {
            form->StartByItself();
        } catch (...) {
            ShowApplicationError(run, handle, std::current_exception());
        }
    }
    RunMessageLoop(window);
    if (!form->Closed() && !run.Failed()) run.End(ExitCode::Cancelled, "the window was closed");
}

std::u16string CommandLineText() {
    const std::wstring command = GetCommandLineW();
    return std::u16string(command.begin(), command.end());
}

// The installer works in the ANSI code page, as Kelvaro 3 does: a /DIR= folder is made
// absolute and taken in it once, by its short (8.3) name where its own name has characters
// outside the code page; empty when neither fits (the switch is then refused).
std::string AnsiFolder(std::u16string_view folder) {
    if (folder.empty()) return {};
    const std::wstring asked(folder.begin(), folder.end());
    auto call = [](auto function, const std::wstring& path) {
        std::wstring out(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n = function(path.c_str(), out.data(), static_cast<DWORD>(out.size()));
            if (n == 0) return std::wstring();
            if (n < out.size()) return out.substr(0, n);
            out.resize(n);
        }
    };
    auto ansi = [](const std::wstring& path) -> std::optional<std::string> {
        const std::u16string wide(path.begin(), path.end());
        std::string text = platform::Utf16ToAnsi(wide);
        if (path.empty() || platform::AnsiToUtf16(text) != wide) return std::nullopt;
        return text;
    };
    const std::wstring full = call(
        [](LPCWSTR p, LPWSTR out, DWORD n) { return GetFullPathNameW(p, n, out, nullptr); }, asked);
    if (auto text = ansi(full)) return *text;
    if (auto text = ansi(call(GetShortPathNameW, full))) return *text;
    return {};
}

// The run's log, opened once the run is claimed: at /LOG= or the default path; its first
// lines tell the installer, the command line and the machine, then what the switches changed.
std::unique_ptr<RunLog> OpenLog(Run& run, const CommandLine& line) {
    const std::u16string asked = line.log ? *line.log : RunLog::DefaultPath();
    std::u16string refusal;
    std::unique_ptr<RunLog> log = OpenRunLog(asked, run.options.elevated, refusal);
    SetRunLog(log.get());
    if (log->Writing()) run.options.log = log->Path();
    Log(LogCategory::Start, "klvupgradeStub " KLV_VERSION_TEXT ", " + ModulePath());
    Log(LogCategory::Start, u"command line: " + CommandLineText());
    Log(LogCategory::Start, u"machine: " + platform::DescribeMachine());
    if (log->Path() != asked)
        Log(LogCategory::Start,
            u"the file " + asked + u" " + refusal + u"; this run's log is here instead");
    for (const AcceptedSwitch& taken : line.accepted)
        Log(LogCategory::Start, taken.written + u" " + platform::AnsiToUtf16(taken.note));
    if (line.dir && run.options.folder.empty())
        Log(LogCategory::Start, u"/DIR=" + *line.dir +
                                    u": the folder's name has characters outside the ANSI code "
                                    u"page and it has no short name within it; the installer "
                                    u"works in that code page, as Kelvaro 3 does, and cannot "
                                    u"use it");
    return log;
}

} // namespace

// The installer from the program entry to its exit code (exit_codes.h): the command line read
// into the run, the machine's one run claimed before anything is written (the log included),
// then the run ended at once (a bad switch, /?, a second copy) or carried by the window.
int klvupgradeStub(HINSTANCE instance, int showCommand) {
    const std::u16string command = CommandLineText();
    CommandLine line = ParseCommandLine(ArgumentsOf(command));
    Run run = Run::FromCommandLine(line, AnsiFolder);
    SetTestHooks(run.context);
    if (line.dir && run.options.folder.empty()) line.malformed.push_back(u"/DIR=" + *line.dir);
    const bool claimed = ClaimRun();
    const std::unique_ptr<RunLog> log = claimed ? OpenLog(run, line) : nullptr;
    if (const RunStart start = Run::StartOf(line, claimed); start != RunStart::Window) {
        EndAtOnce(run, start, line, ApplicationTitle());
    } else {
        // Every box passes the log, and in a silent run none is shown.
        LoggedWindowSystem boxes(*platform::System().windows, run);
        platform::Services services = platform::System();
        services.windows = &boxes;
        const platform::Services previous = platform::InstallServices(services);
        RunWindow(run, instance, showCommand);
        platform::InstallServices(previous);
    }
    Log(LogCategory::Result, run.ResultLine());
    SetRunLog(nullptr);
    return run.ExitValue();
}

} // namespace klv::app::win32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    klv::app::win32::RestrictDllSearch(); // before anything can load a DLL
    return klv::app::win32::klvupgradeStub(instance, showCommand);
}

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

namespace klv::app::win32 {

namespace {

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

// True once a failure outside the engine ended the run (the process then ends with its code).
bool endedByError = false;

// The application's default error handler. An engine error in a window run is shown with its
// message and the window goes on; any other failure, and every failure of a run nobody
// answers, ends the run and the process with its exit code (11 for the unexpected), the
// window run with the Dutch notice.
void ShowApplicationError(HWND window, std::exception_ptr error) {
    const std::string text = ExceptionMessage(error);
    Log(LogCategory::Failure, "error: " + text);
    const ExitCode code = ExitCodeFor(error);
    const bool ends = Unattended() || code == ExitCode::UnexpectedError;
    if (ends && !endedByError) {
        endedByError = true;
        EndRun(code, text);
    }
    // A closing sequence may already have asked the loop to end; a box would close at once on
    // that request, so it is taken off the queue while the box is open and made again after.
    MSG quit;
    const bool ending = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    if (!Unattended()) {
        const std::string shown =
            code == ExitCode::UnexpectedError ? util::texts::UnexpectedFailure() : text;
        MessageBoxA(window && IsWindowVisible(window) ? window : nullptr, shown.c_str(),
                    ApplicationTitle().c_str(), MB_OK | MB_ICONERROR);
    }
    if (ending)
        PostQuitMessage(static_cast<int>(quit.wParam));
    else if (ends)
        PostQuitMessage(ExitValue(RunExitCode()));
}

void RouteEvent(TUpgradeForm& form, WindowEvent event, Control sender) {
    switch (event) {
    case WindowEvent::Paint:
        form.FormPaint();
        break;
    case WindowEvent::Timer:
        form.Timer1Timer();
        // A silent run, and the run handed over to this copy as administrator, start from the
        // loop once the first paint has shown the window.
        if ((Options.mode == RunMode::Silent || Options.elevated) && !FirstPaint &&
            !form.Closed()) {
            static bool started = false; // the run may pump messages: it starts once
            if (!started) {
                started = true;
                if (Options.mode == RunMode::Silent)
                    form.RunUnattended();
                else
                    form.RunHandedOver();
            }
        }
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

} // namespace

// The installer from start to end; the process's exit code (exit_codes.h).
int klvupgradeStub(HINSTANCE instance, int showCommand) {
    NativeUpgradeWindow window(instance, StoredCaptionText());
    HWND handle = window.Window();
    std::unique_ptr<TUpgradeForm> form;
    try {
        form = std::make_unique<TUpgradeForm>(window, ModulePath());
        EntrySequence(*form);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        endedByError = true;
        EndRun(ExitCode::UnexpectedError, ExceptionMessage(error));
        ShowApplicationError(nullptr, error);
        return ExitValue(RunExitCode());
    }
    window.Connect([&form](WindowEvent event, Control sender) { RouteEvent(*form, event, sender); },
                   [handle](std::exception_ptr error) { ShowApplicationError(handle, error); });
    if (Options.mode != RunMode::VerySilent) window.Show(showCommand);
    // COM (the folder dialog, the shell links) is first needed by the first paint's work,
    // which runs from the message loop: starting it after the window is shown keeps it out of
    // the time to the first paint.
    platform::ComApartment com;
    if (Options.mode == RunMode::VerySilent) {
        try {
            form->RunUnattended();
        } catch (...) {
            ShowApplicationError(handle, std::current_exception());
        }
    }
    RunMessageLoop(window);
    if (!form->Closed() && !endedByError) EndRun(ExitCode::Cancelled, "the window was closed");
    return ExitValue(RunExitCode());
}

// ---- the command line ----------------------------------------------------------------------

// The command line read into Options; the run's log started. 0 or more: the run ends at once
// with this exit code (/?, a bad switch).
int StartRun(RunLog*& log, std::unique_ptr<RunLog>& owned) {
    const CommandLine s = ParseCommandLine(ArgumentsOf(GetCommandLineA()));
    if (s.verySilent)
        Options.mode = RunMode::VerySilent;
    else if (s.silent)
        Options.mode = RunMode::Silent;
    Options.noStart = s.noStart;
    Options.elevated = s.elevated;
    // One run on the machine at a time, claimed before any log is opened: a second copy, or
    // one that ends at once, changes nothing anywhere.
    const bool claimed = ClaimRun();
    if (claimed) {
        owned =
            OpenRunLog(s.log ? platform::AnsiToUtf16(*s.log) : RunLog::DefaultPath(), s.elevated);
        log = owned.get();
        SetRunLog(log);
    }
    Log(LogCategory::Start, "klvupgradeStub " KLV_VERSION_TEXT ", " + ModulePath());
    const std::wstring line = GetCommandLineW();
    Log(LogCategory::Start, u"command line: " + std::u16string(line.begin(), line.end()));
    Log(LogCategory::Start, u"machine: " + platform::DescribeMachine());
    if (owned && owned->Path() != (s.log ? platform::AnsiToUtf16(*s.log) : RunLog::DefaultPath()))
        Log(LogCategory::Start, u"the file " + platform::AnsiToUtf16(*s.log) +
                                    u" is not a log of this installer or cannot be changed: it "
                                    u"is left as it is, and this run's log is here");
    // A relative folder is taken from where the package was started, once, here.
    if (s.dir) Options.folder = AbsoluteFolder(*s.dir);
    if (!s.Ok()) {
        const std::string bad = !s.malformed.empty() ? s.malformed.front() : s.unknown.front();
        EndRun(ExitCode::BadSwitch, "unknown or malformed switch " + bad);
        if (Options.mode != RunMode::VerySilent)
            MessageBoxA(nullptr, util::texts::BadSwitch(bad).c_str(), ApplicationTitle().c_str(),
                        MB_OK | MB_ICONERROR);
        return ExitValue(ExitCode::BadSwitch);
    }
    if (s.help) {
        EndRun(ExitCode::Installed, "the switches were shown (/?)");
        if (Options.mode == RunMode::VerySilent) {
            // Nobody to press OK: the list goes to the log.
            const std::string_view help = util::texts::SwitchHelp;
            for (std::size_t at = 0; at <= help.size();) {
                std::size_t end = help.find("\r\n", at);
                if (end == std::string_view::npos) end = help.size();
                if (end > at)
                    Log(LogCategory::Start, "/? " + std::string(help.substr(at, end - at)));
                at = end + 2;
            }
        } else {
            MessageBoxA(nullptr, std::string(util::texts::SwitchHelp).c_str(),
                        ApplicationTitle().c_str(), MB_OK | MB_ICONINFORMATION);
        }
        return ExitValue(ExitCode::Installed);
    }
    if (!claimed) {
        EndRun(ExitCode::AlreadyRunning, "another copy of the installer is running");
        if (Options.mode == RunMode::Interactive) util::ShowNotice(AlreadyRunningNotice());
        return ExitValue(ExitCode::AlreadyRunning);
    }
    return -1;
}

// The last line of every run's log.
void LogResult() {
    const ExitCode code = RunExitCode();
    Log(LogCategory::Result,
        std::string(ExitName(code)) + " (exit code " + std::to_string(ExitValue(code)) + ")" +
            (RunEndReason().empty() || RunEndReason() == ExitName(code) ? ""
                                                                        : ": " + RunEndReason()));
}

} // namespace klv::app::win32

#ifdef KLV_TEST_HOOKS
// The test build only: KLVUPGRADE_STOP_AFTER_STEP=N ends the process, as if killed, after N
// steps of the switch-over; the end-to-end suites cut runs off with it.
static void StopFromEnvironment(int step) {
    const char* value = std::getenv("KLVUPGRADE_STOP_AFTER_STEP");
    if (value && *value && step >= std::atoi(value)) std::_Exit(99);
}
// KLVUPGRADE_FAIL_AT_FIRST_PAINT=1 raises std::bad_alloc when the first paint's work begins.
static void FailFromEnvironment() {
    const char* value = std::getenv("KLVUPGRADE_FAIL_AT_FIRST_PAINT");
    if (value && *value) throw std::bad_alloc();
}
// KLVUPGRADE_TOKEN_NOT_ELEVATED=1 takes this process for a standard user's (Wine's token is
// always elevated), so that the relaunch as administrator is offered.
static bool TokenFromEnvironment() {
    const char* value = std::getenv("KLVUPGRADE_TOKEN_NOT_ELEVATED");
    return !(value && *value);
}
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    klv::app::win32::RestrictDllSearch(); // before anything can load a DLL
#ifdef KLV_TEST_HOOKS
    klv::app::SwitchStepHook = StopFromEnvironment;
    klv::app::FirstPaintHook = FailFromEnvironment;
    if (std::getenv("KLVUPGRADE_TOKEN_NOT_ELEVATED"))
        klv::app::TokenElevatedHook = TokenFromEnvironment;
#endif
    using namespace klv::app;
    RunLog* log = nullptr;
    std::unique_ptr<RunLog> owned;
    int code = win32::StartRun(log, owned);
    if (code < 0) {
        // Every box passes the log, and in a silent run none is shown.
        LoggedWindowSystem boxes(*klv::platform::System().windows);
        klv::platform::Services services = klv::platform::System();
        services.windows = &boxes;
        const klv::platform::Services previous = klv::platform::InstallServices(services);
        code = win32::klvupgradeStub(instance, showCommand);
        klv::platform::InstallServices(previous);
    }
    win32::LogResult();
    SetRunLog(nullptr);
    return code;
}

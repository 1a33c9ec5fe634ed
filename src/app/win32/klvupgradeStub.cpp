// The program entry: the DLL search restricted, the installer window made with its logic,
// the entry sequence, the message loop. The application's default error handler lives here:
// an exception that leaves an event handler is shown in a message box with its message.
#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "app/command_line.h"
#include "app/install_journal.h"
#include "app/uMain.h"
#include "app/win32/dll_safety.h"
#include "app/win32/stored_caption.h"
#include "app/win32/upgrade_window.h"
#include "platform/system.h"

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

void ShowApplicationError(HWND window, std::exception_ptr error) {
    const std::string text = ExceptionMessage(error);
    const std::string title = ApplicationTitle();
    // A closing sequence may already have asked the loop to end; a box would close at once on
    // that request, so it is taken off the queue while the box is open and made again after.
    MSG quit;
    const bool ending = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    MessageBoxA(window && IsWindowVisible(window) ? window : nullptr, text.c_str(), title.c_str(),
                MB_OK | MB_ICONERROR);
    if (ending) PostQuitMessage(static_cast<int>(quit.wParam));
}

void RouteEvent(TUpgradeForm& form, WindowEvent event, Control sender) {
    switch (event) {
    case WindowEvent::Paint:
        form.FormPaint();
        break;
    case WindowEvent::Timer:
        form.Timer1Timer();
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

// The installer from start to end; the process's exit code.
int klvupgradeStub(HINSTANCE instance, int showCommand) {
    NativeUpgradeWindow window(instance, StoredCaptionText());
    HWND handle = window.Window();
    std::unique_ptr<TUpgradeForm> form;
    try {
        form = std::make_unique<TUpgradeForm>(window, ModulePath());
        EntrySequence(*form);
        // Only /DIR= is acted on: a relaunch as administrator names the folder chosen.
        const CommandLine switches = ParseCommandLine(ArgumentsOf(GetCommandLineA()));
        if (switches.dir) form->DirSwitch = *switches.dir;
    } catch (...) {
        ShowApplicationError(nullptr, std::current_exception());
        return 1;
    }
    window.Connect([&form](WindowEvent event, Control sender) { RouteEvent(*form, event, sender); },
                   [handle](std::exception_ptr error) { ShowApplicationError(handle, error); });
    window.Show(showCommand);
    // COM (the folder dialog, the shell links) is first needed by the first paint's work,
    // which runs from the message loop: starting it after the window is shown keeps it out of
    // the time to the first paint.
    platform::ComApartment com;
    return RunMessageLoop(window);
}

} // namespace klv::app::win32

#ifdef KLV_TEST_HOOKS
// The test build only: KLVUPGRADE_STOP_AFTER_STEP=N ends the process, as if killed, after N
// steps of the switch-over; the end-to-end suites cut runs off with it.
static void StopFromEnvironment(int step) {
    const char* value = std::getenv("KLVUPGRADE_STOP_AFTER_STEP");
    if (value && *value && step >= std::atoi(value)) std::_Exit(99);
}
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    klv::app::win32::RestrictDllSearch(); // before anything can load a DLL
#ifdef KLV_TEST_HOOKS
    klv::app::SwitchStepHook = StopFromEnvironment;
#endif
    return klv::app::win32::klvupgradeStub(instance, showCommand);
}

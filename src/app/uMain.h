// TUpgradeForm: the installer window's fields, handlers and operations. The logic is
// portable: it reaches the machine through the util helpers and the platform services, its
// controls through UpgradeView, and the payload through Payload. The native window creates
// its controls, then the form (whose constructor runs FormCreate), then calls EntrySequence,
// and routes each window event to the handler of the same name.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/payload.h"
#include "app/run.h"
#include "app/stubconf/stub_ini.h"
#include "app/view.h"

namespace klv::app {

// The sender of an event; the handlers do not use it.
struct TObject;

// The installed application's registry entry under "\SOFTWARE\KLV\", as Kelvaro itself sees
// it: the user's VirtualStore first (when its value names an existing folder), else
// HKEY_LOCAL_MACHINE, both read-only: the value `name` (the folder), name+"datum" and
// name+"setup". All empty when neither opens. A value that is not text raises
// platform::RegistryError.
void ReadInstallRegistry(std::string_view name, std::string& folder, std::string& date,
                         std::string& setup);
// The first target folder tried: the registry's folder when it is an existing directory,
// else "kelvaro" at the root of the program-files folder's drive.
std::string DefaultFolder();
// How the run came to `folder`, for the log: "/DIR" when the command line `named` it, else
// "registry" (with the VirtualStore when that gave it) or "default".
std::string FolderSource(std::string_view folder, bool named);
// True when `path` (a folder, or a file in one) is a complete Kelvaro 3 installation: not a
// drive root, not below "program files", with BDE, SC, SC\Slavenreg.sc, Data\voornamen.txt.
bool IsFullInstallation(std::string_view path);
// Why `folder` is no complete installation, for the log: the first required item that is
// missing or too small ("SC\Slavenreg.sc missing", "BDE\BDEADMIN.EXE 1024 bytes, needs
// 989608"); empty for a complete one.
std::string InstallationShortfall(std::string_view folder);
// Logs each folder the registry and the default give, besides `chosen`, with where it came
// from and its shortfall: the folders considered before `chosen`.
void LogConsideredFolders(std::string_view chosen);

// A folder named on the command line, made absolute against the current folder (the one the
// package was started from); empty stays empty.
std::string AbsoluteFolder(std::string_view folder);

// The 8-bit text the application's default error handler shows for an exception that left
// an event handler.
std::string ExceptionMessage(std::exception_ptr error);

class TUpgradeForm {
  public:
    // `view` and `run` must outlive the form; every way out of the run is recorded in `run`.
    // `executablePath` is the full path of the running executable, whose payload
    // `openPayload` opens (the archive engine when empty). Runs FormCreate.
    TUpgradeForm(UpgradeView& view, Run& run, std::string executablePath,
                 PayloadFactory openPayload = {});
    ~TUpgradeForm();
    TUpgradeForm(const TUpgradeForm&) = delete;
    TUpgradeForm& operator=(const TUpgradeForm&) = delete;

    // The installed application's program file name.
    std::string ProgramFileName;
    // The program files the last drive search found, reduced to folders; made by the first.
    std::unique_ptr<std::vector<std::string>> FoundLocations;

    // ---- event handlers ----
    void FormCreate(TObject* Sender = nullptr);
    void FormPaint(TObject* Sender = nullptr);
    void Timer1Timer(TObject* Sender = nullptr);
    void bnSelectDestPathClick(TObject* Sender = nullptr);
    void zoeklocsClick(TObject* Sender = nullptr);
    void SearchProgress(const std::string& folder);
    // The installation run. Once past the folder validation every way out closes the window
    // and terminates the application; an exception then goes on to the caller.
    void bnExtractClick(TObject* Sender = nullptr);
    void bnExitClick(TObject* Sender = nullptr);

    // ---- operations ----
    void ApplyPayloadConfiguration();
    bool IsHelpPackage();
    // The package's kind: the payload's configuration (StubConfigFound) and the caption.
    stubconf::PackageKind Kind();
    bool ValidateTargetFolder();
    // True when files can be written in `folder`; else asks whether to start the package
    // again as administrator (with every switch of this run and /DIR=folder) and on Yes does
    // so, waits for it and ends with its exit code; or tells that nothing was changed. A copy
    // that is already an administrator's only says that it may not write. False means the
    // run ends.
    bool FolderIsWritable(const std::string& folder);
    // True when this copy runs as an administrator: started as one by another (/ELEVATED), or
    // with an elevated token.
    bool RunsElevated();
    // What of an earlier run's remains this copy may act on: an elevated copy only what an
    // administrator made in the folder it was handed; another only in folders of the note that
    // hold a complete Kelvaro 3 installation it may write in.
    RecoveryTrust Trust();
    bool ConfirmVersion(const std::string& programFile);
    std::string PackageVersion();
    std::string InstalledVersion(const std::string& programFile);

    // The run that starts without a click (Run::StartsByItself), once: the unattended run or
    // the one handed over. The entry calls it at once for /VERYSILENT, else once the first
    // paint has shown the window.
    void StartByItself();
    // A run that nobody answers (/SILENT, /VERYSILENT): the first paint's work if the window
    // has not shown yet, then the installation run into the folder found (or /DIR), every
    // question given its safe answer. Always ends with the window closed and the application
    // terminated; the exit code says how (unattended.h).
    void RunUnattended();
    // The copy started as administrator by another (/ELEVATED): the run the user asked for
    // there starts by itself once the window shows, as if Installeren were pressed.
    void RunHandedOver();
    // The package, as the log tells it: name, size, caption, version, run mode, signature.
    void LogPackage();

    // True once the closing sequence (or the cancel button) has closed the window.
    bool Closed() const { return closed_; }

    UpgradeView& View() { return view_; }
    Run& ThisRun() { return run_; }
    // The run's mutable state: StubConfigFound, FirstPaint, ChosenIndex, SearchStopFlag, ...
    RunContext& Context() { return run_.context; }
    const std::string& ExecutablePath() const { return executablePath_; }

  private:
    // The first paint's steps, in order; each false when it ended the run (window closed).
    // The machine's one run: a second copy ends here (exit 7).
    bool ClaimTheRun();
    // Undoes or finishes what earlier runs left, as far as this copy may act on it.
    void UndoEarlierRuns(const std::string& folder);
    // The folder field from /DIR, the registry or the default; otherwise search or browse
    // (an unattended run ends, exit 2).
    bool TakeFolder(const std::string& folder);
    // Stub.ini and the picture from the payload; a package that cannot be read ends (exit 4),
    // a temporary folder that takes no files too (exit 6).
    bool ConfigureFromPayload();
    // Normal cursor, window closed, application terminated.
    void CloseAndTerminate();
    // The installation run past the hourglass; its caller closes on every way out.
    void RunInstallation(const std::string& folder);
    // After the payload went in: the notice, or the shortcuts and the start question; a
    // program upgrade whose package lacks the program ends with exit 4.
    void EndInstalled(const std::string& folder, const std::string& programFile,
                      bool withoutProgram, bool programExisted);

    UpgradeView& view_;
    Run& run_;
    bool closed_ = false;  // the closing sequence has run
    bool started_ = false; // the run that starts without a click has started
    std::string executablePath_;
    PayloadFactory openPayload_;
    std::unique_ptr<Payload> payload_; // the window's archive component
};

// The entry sequence's settings after the window is made: program file name, heading,
// explanation and the shortcuts check box. The caller then runs the message loop.
void EntrySequence(TUpgradeForm& form);

} // namespace klv::app

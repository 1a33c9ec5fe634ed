// The installer's exit codes: one per way a run ends, the same whether a person answered the
// questions or the run was unattended (/VERYSILENT). Scripts and deployment tools depend on
// these numbers: never renumber one, only add new ones at the end.
#pragma once

#include <string_view>

namespace klv::app {

enum class ExitCode : int {
    Installed = 0,        // the payload is installed
    Cancelled = 1,        // the user cancelled (Annuleren, or closed the window)
    NoInstallation = 2,   // no Kelvaro 3 installation found, or the folder was refused
    OlderVersion = 3,     // the update is older than the installed program and was not installed
    DamagedPackage = 4,   // the package is damaged or incomplete
    InUse = 5,            // Kelvaro or another file to replace is in use
    NoRoom = 6,           // not enough room on the drive, or writing the files failed
    AlreadyRunning = 7,   // another update is already running on this computer
    NotRestored = 8,      // an earlier update could not be undone
    NoRights = 9,         // the installation folder cannot be written
    BadSwitch = 10,       // an unknown or malformed command-line switch; nothing was done
    UnexpectedError = 11, // any other failure (the message box or the log says which)
};

constexpr int ExitValue(ExitCode code) {
    return static_cast<int>(code);
}

// A short English name for the log ("installed", "damaged package").
constexpr std::string_view ExitName(ExitCode code) {
    switch (code) {
    case ExitCode::Installed:
        return "installed";
    case ExitCode::Cancelled:
        return "cancelled by the user";
    case ExitCode::NoInstallation:
        return "no installation found or folder refused";
    case ExitCode::OlderVersion:
        return "older version refused";
    case ExitCode::DamagedPackage:
        return "damaged package";
    case ExitCode::InUse:
        return "Kelvaro or a file in use";
    case ExitCode::NoRoom:
        return "not enough room or a failed write";
    case ExitCode::AlreadyRunning:
        return "another update is already running on this computer";
    case ExitCode::NotRestored:
        return "an earlier update could not be undone";
    case ExitCode::NoRights:
        return "no rights to write the folder";
    case ExitCode::BadSwitch:
        return "unknown or malformed switch";
    case ExitCode::UnexpectedError:
        return "unexpected error";
    }
    return "unknown";
}

} // namespace klv::app

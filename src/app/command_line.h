// The installer's command line: the switches of an unattended or relaunched run, read from the
// system's UTF-16 command line, so that a folder or a log may have any name. Names are compared
// without case; a value may be quoted ("/DIR=\"C:\\Mijn Kelvaro\"") or not.
//
//   /VERYSILENT  /SILENT  /NOSTART  /?  /DIR=folder  /LOG=file
//
// and /ELEVATED, which only the installer itself passes: the copy it starts as administrator.
// The switches that deployment tools add by habit for other installers (/SUPPRESSMSGBOXES,
// /NORESTART, /SP-, /NOCANCEL, /NORESTARTAPPLICATIONS) are taken and change nothing; the run's
// log says so for each.
//
// Parsing never shows anything: a switch it does not know, or a known one in the wrong form
// (a missing or empty value, a value on a switch that takes none, an open quote), is reported
// in the result and the caller decides.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv::app {

// A switch taken that changes nothing here, as written, and why it changes nothing (for the
// log).
struct AcceptedSwitch {
    std::u16string written;
    std::string_view note;
};

struct CommandLine {
    bool verySilent = false;
    bool silent = false;
    bool noStart = false;
    bool help = false;                     // "/?"
    bool elevated = false;                 // "/ELEVATED": started as administrator by another copy
    bool closeApplications = false;        // "/CLOSEAPPLICATIONS": close the programs holding files
    std::optional<std::u16string> dir;     // "/DIR=": the installation folder
    std::optional<std::u16string> log;     // "/LOG=": the log file
    std::vector<AcceptedSwitch> accepted;  // switches of other installers, taken as they are
    std::vector<std::u16string> unknown;   // arguments that are no switch of the installer
    std::vector<std::u16string> malformed; // known switches in a wrong form

    bool Ok() const { return unknown.empty() && malformed.empty(); }
};

// The switches of `arguments`: the command line without the program's own name.
CommandLine ParseCommandLine(std::u16string_view arguments);
// A full command line as the system gives it, without the program's name (quoted or not).
std::u16string_view ArgumentsOf(std::u16string_view commandLine);
// The argument that names `folder` for a new run: /DIR="folder".
std::u16string DirArgument(std::u16string_view folder);

// `argument` as one argument of a Windows command line, read back unchanged by the system's
// rules (CommandLineToArgvW, the C runtime): in double quotes when it holds a blank, a tab, a
// quote or nothing; a quote escaped as \", the backslashes before a quote (and before the
// closing one) doubled.
std::u16string QuoteArgument(std::u16string_view argument);

// The command line of the copy started as administrator: every switch of this run (the mode,
// /NOSTART, /LOG, /DIR) and /ELEVATED, each quoted as QuoteArgument does. A folder or file
// name holds no quote and is given without trailing separators, so this parser and the
// system's read the same values.
std::u16string RelaunchArguments(const CommandLine& run);

} // namespace klv::app

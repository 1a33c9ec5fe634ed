// The installer's command line: the switches of an unattended or relaunched run. Names are
// compared without case; a value may be quoted ("/DIR=\"C:\\Mijn Kelvaro\"") or not.
//
//   /VERYSILENT  /SILENT  /NOSTART  /?  /DIR=folder  /LOG=file
//
// and /ELEVATED, which only the installer itself passes: the copy it starts as administrator.
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

struct CommandLine {
    bool verySilent = false;
    bool silent = false;
    bool noStart = false;
    bool help = false;                  // "/?"
    bool elevated = false;              // "/ELEVATED": started as administrator by another copy
    bool closeApplications = false;     // "/CLOSEAPPLICATIONS": close the programs holding files
    std::optional<std::string> dir;     // "/DIR=": the installation folder
    std::optional<std::string> log;     // "/LOG=": the log file
    std::vector<std::string> unknown;   // arguments that are no switch of the installer
    std::vector<std::string> malformed; // known switches in a wrong form

    bool Ok() const { return unknown.empty() && malformed.empty(); }
};

// The switches of `arguments`: the command line without the program's own name.
CommandLine ParseCommandLine(std::string_view arguments);
// A full command line as the system gives it, without the program's name (quoted or not).
std::string_view ArgumentsOf(std::string_view commandLine);
// The argument that names `folder` for a new run: /DIR="folder".
std::string DirArgument(std::string_view folder);

// `argument` as one argument of a Windows command line, read back unchanged by the system's
// rules (CommandLineToArgvW, the C runtime): in double quotes when it holds a blank, a tab, a
// quote or nothing; a quote escaped as \", the backslashes before a quote (and before the
// closing one) doubled.
std::string QuoteArgument(std::string_view argument);

// The command line of the copy started as administrator: every switch of this run (the mode,
// /NOSTART, /LOG, /DIR) and /ELEVATED, each quoted as QuoteArgument does. A folder or file
// name holds no quote and is given without trailing separators, so this parser and the
// system's read the same values.
std::string RelaunchArguments(const CommandLine& run);

} // namespace klv::app

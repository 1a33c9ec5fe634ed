// Folders, drives, files and the shell, as the installer needs them: special folders with
// their fallbacks, existence tests that never stall on an empty drive, making a file
// replaceable, small text helpers, and opening files, programs and web addresses.
// All text is 8-bit ANSI; an empty text result stands for "none".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"

namespace klv::util {

// ---- folders ----

std::string TempFolder();         // with a trailing backslash, as the system gives it
std::string WindowsFolder();      // with a trailing backslash
std::string ProgramFilesFolder(); // the shell's, else the registry's
// The drive root of ProgramFilesFolder (its first three characters, such as "C:\").
std::string ProgramFilesRoot();
std::string CommonFilesFolder(); // the shell's (two tries), else the registry's
std::string DesktopFolder();
std::string StartMenuFolder(); // its root, not its Programs folder
std::string AppDataFolder();
std::string LocalAppDataFolder();
std::string InternetCacheFolder();

// ---- text ----

// Empty stays empty; otherwise `path` with a "\" appended unless it already ends in one.
std::string WithTrailingBackslash(std::string_view path);
// Leading and trailing blanks and control characters removed, then A-Z lower-cased.
std::string LowerTrim(std::string_view text);
std::string IntText(int value);
int LargerOf(int a, int b);
// True when `text` ends with `suffix`, A-Z compared without regard to case; false for an
// empty text or one shorter than the suffix.
bool EndsWithText(std::string_view text, std::string_view suffix);
// The text between the prefix and the suffix that the one "*" of `pattern` separates (as
// "Update *]"), searched with the given case sensitivity; `defaultText` when the pattern has
// no "*", the prefix or the suffix is not found, or nothing lies between them.
std::string TextBetween(std::string_view source, std::string_view pattern,
                        std::string_view defaultText, bool caseSensitive);
// The entries in their order, each once; repeats are found without regard to case.
std::vector<std::string> DistinctList(const std::vector<std::string>& list);

// ---- drives and files ----

// The kind (platform::dk...) of drive `letter`; a kind the system does not define is 0.
unsigned DriveKind(std::string_view letter);
// True when drive `letter` (A-Z or a-z) answers a size query; asked quietly.
bool DriveReady(char letter);
// The plain existence tests: the system's answer as it is (a network path included; an empty
// drive may make the system show its box).
bool FileExists(std::string_view path);
bool FolderExists(std::string_view path);
// Existence tests that never make the system show a box or wait for an empty drive; false
// for a path that begins with two backslashes.
bool FileExistsSafe(std::string_view path);
bool FolderExistsSafe(std::string_view path);
// The size of the first entry that matches `path`, 0 when none does.
std::int64_t FileSizeOf(std::string_view path);
// True when the file at `path` can now be replaced: a read-only file loses that bit; a
// missing file needs nothing. False on a CD/DVD drive or when the folder is missing.
bool MakeWritable(std::string_view path);
// True when a file can be written at `path`. Creates and removes a probe file where there is
// none; an existing file is only opened for writing, never changed.
bool CanCreateFile(std::string_view path);
// The 8.3 form of an existing path; for a missing file, the short form of its folder
// followed by the unchanged name. Empty when there is none.
std::string ShortPath(std::string_view path);
// True while the Escape key is held down.
bool EscapePressed();

// ---- shell ----

// Starts `fileName` (a file, program or web address) with `verb` through the shell, the
// parameters in double quotes. Web pages, PHP pages and PDF files, and http(s) addresses,
// go to the web browser, whose program path is looked up on first need and kept in
// `browserPath` (the run's CachedBrowserPath). True when the shell started something.
bool OpenDocument(platform::WindowHandle owner, std::string_view fileName,
                  std::string_view parameters, std::string_view verb, std::string& browserPath);
// The program registered for extension `extension` (such as ".htm"); empty when none.
std::string AssociatedProgram(std::string_view extension);
// The program that opens ".htm" files; empty when none.
std::string DefaultBrowser();
// Writes the shell link `linkFile` to `target`. Raises platform::ShellLinkError when the
// shell link object cannot be made.
void CreateShellLink(std::string_view target, std::string_view linkFile,
                     std::string_view description, std::string_view arguments);

} // namespace klv::util

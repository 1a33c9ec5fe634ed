#include "util/KLVShortCutU.h"

#include <exception>

#include "util/filez.h"
#include "util/system_access.h"
#include "util/texts.h"

namespace klv::util {

namespace {

void Report(const ReportCallback& report, const std::string& text) {
    if (report) report(text);
}

// Deletes an existing link file; true when there was one.
bool RemoveExisting(const std::string& linkFile) {
    if (!FileExistsSafe(linkFile)) return false;
    sys::Files().RemoveFile(linkFile);
    return true;
}

} // namespace

void CreateShortcuts(std::string_view programFolder, std::string_view programName,
                     std::string_view linkName, bool onlyReplace, const ReportCallback& report) {
    const std::string target =
        WithTrailingBackslash(programFolder) + std::string(programName) + ".exe";
    const std::string linkFileName = std::string(linkName) + ".lnk";

    // Without a folder name the link would land in the current folder: that counts as a
    // failure.
    const std::string desktop = DesktopFolder();
    const std::string desktopFailure = texts::DesktopShortcutFailed(desktop);
    if (desktop.empty()) {
        if (!onlyReplace) Report(report, desktopFailure);
    } else {
        const std::string link = WithTrailingBackslash(desktop) + linkFileName;
        bool existed = RemoveExisting(link);
        if (!onlyReplace || existed) {
            try {
                CreateShellLink(target, link, "", "");
            } catch (const std::exception&) {
                Report(report, desktopFailure);
            }
        }
    }

    const std::string startMenu = StartMenuFolder();
    bool existed = false;
    if (!startMenu.empty())
        existed = RemoveExisting(WithTrailingBackslash(startMenu) + linkFileName);
    if (onlyReplace && !existed) return;
    if (!FolderExistsSafe(startMenu)) {
        Report(report, texts::StartMenuNotFound(startMenu));
        return;
    }
    try {
        CreateShellLink(target, WithTrailingBackslash(startMenu) + linkFileName, "", "");
    } catch (const std::exception&) {
        Report(report, texts::StartMenuShortcutFailed(startMenu));
    }
}

} // namespace klv::util

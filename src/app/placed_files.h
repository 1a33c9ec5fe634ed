// The update's changes, for the log: each file a committed run placed, one line each.
#pragma once

#include <string>
#include <vector>

#include "app/install_journal.h"
#include "app/install_plan.h"
#include "platform/disk.h"

namespace klv::app {

// "placed Data\voornamen.txt, 1200 bytes, replaced" (or "new") for each file of `plan`, the
// size as the payload gives it; past kListedPlacedBytes of such lines the other files are
// counted in one line, so that a large update leaves the log room for its end.
inline constexpr std::size_t kListedPlacedBytes = 64 * 1024;
void LogPlacedFiles(const SwitchPlan& plan, const std::vector<PayloadItem>& items);

// The programs holding `path` open, as the disk tells them ("kelvaro.exe (process 4242)",
// joined by ", "), in the ANSI code page; empty when it cannot tell.
std::string HeldBy(platform::Disk& disk, const std::u16string& path);

} // namespace klv::app

// What an installation run will do, worked out before anything is written: the payload's
// items by the paths they install as (item_names.h), and the plan of the switch-over.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/install_journal.h"

namespace klv::zip {
class TZipArchive;
}

namespace klv::app {

struct PayloadItem {
    std::u16string name; // the path it installs as: relative, '\' between parts
    bool folder = false;
    std::int64_t size = 0;
};

struct PayloadItems {
    std::vector<PayloadItem> items;
    // The first item the installer refuses (an unusable name, an encrypted item, a name past
    // the plan's budget of kMaxPlanNameUnits), as stored
    // with '\' separators; nothing when it takes them all.
    std::optional<std::u16string> refused;
};

// The most the payload's paths may cost the plan, in UTF-16 units: the sum over the items of a
// path's length times its number of parts (32 Mi units, 64 MiB; 2,000 files four folders deep
// cost about 0.5 Mi).
inline constexpr std::uint64_t kMaxPlanNameUnits = std::uint64_t{32} << 20;

// Every entry of the open archive's directory (folders marked by their attribute or a trailing
// separator). Staging writes the items by their stored names, which differ from these paths
// only in separators and "." parts: the same files to the system.
PayloadItems ListPayload(zip::TZipArchive& archive);

// The plan of the switch into `folder` (with a trailing '\'): each file, whether an old one
// is there, and the folders that are missing, parents first. Nothing when an item cannot go
// into this installation (a part of its path is a file there, or it is a file where the
// installation has a folder); `refused` then names the item.
std::optional<SwitchPlan> MakePlan(const std::u16string& folder,
                                   const std::vector<PayloadItem>& items, std::u16string& refused,
                                   platform::Disk& disk = platform::SystemDisk());

} // namespace klv::app

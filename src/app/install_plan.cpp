#include "app/install_plan.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

#include "app/stubconf/item_names.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "zip/archiver.h"
#include "zip/folder_item.h"

namespace klv::app {

PayloadItems ListPayload(zip::TZipArchive& archive) {
    PayloadItems out;
    const zip::TZADirArray& dir = archive.DirManager()->Directory;
    std::vector<stubconf::PayloadName> names;
    names.reserve(static_cast<std::size_t>(dir.Count()));
    for (std::int32_t i = 0; i < dir.Count(); ++i) {
        const zip::TDirItem& entry = dir.Item(i);
        names.push_back({entry.FileName, zip::IsFolderItem(entry)});
    }
    const stubconf::PayloadPaths paths =
        stubconf::CanonicalPayloadPaths(names, platform::UpperUnit);
    std::size_t firstRefused = paths.refusals.empty() ? names.size() : paths.refusals[0].index;
    // An encrypted item would need a password the installer does not have. The plan and the
    // journal name every folder of every path, so a name costs its length times its depth:
    // past a budget no real payload comes near, the names are a hostile package's.
    std::uint64_t cost = 0;
    for (std::size_t i = 0; i < firstRefused; ++i) {
        const std::u16string& path = paths.paths[i];
        cost += path.size() *
                (1 + static_cast<std::uint64_t>(std::count(path.begin(), path.end(), u'\\')));
        if (dir.Item(static_cast<std::int32_t>(i)).Encrypted() || cost > kMaxPlanNameUnits)
            firstRefused = i;
    }
    if (firstRefused < names.size()) {
        std::u16string name = platform::WithSeparators(names[firstRefused].stored);
        while (!name.empty() && name.back() == u'\\')
            name.pop_back();
        out.refused = std::move(name);
        return out;
    }
    out.items.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        out.items.push_back({paths.paths[i], names[i].folder,
                             dir.Item(static_cast<std::int32_t>(i)).UncompressedSize()});
    return out;
}

std::optional<SwitchPlan> MakePlan(const std::u16string& folder,
                                   const std::vector<PayloadItem>& items, std::u16string& refused,
                                   platform::Disk& disk) {
    SwitchPlan plan;
    std::unordered_set<std::u16string> seenFolders;
    // The folders of a path (the whole path too for a folder item), parents first; false when
    // one of them is a file of the installation.
    auto addFolders = [&](const std::u16string& name, bool includeLast) {
        for (std::size_t p = name.find(u'\\');; p = name.find(u'\\', p + 1)) {
            if (p == std::u16string::npos && !includeLast) return true;
            const std::u16string part = name.substr(0, p);
            if (seenFolders.insert(platform::UpperCase(part)).second) {
                if (disk.IsFile(folder + part)) return false;
                if (!disk.IsFolder(folder + part)) plan.newFolders.push_back(part);
            }
            if (p == std::u16string::npos) return true;
        }
    };
    for (const PayloadItem& item : items) {
        const bool fits = addFolders(item.name, item.folder) &&
                          (item.folder || !disk.IsFolder(folder + item.name));
        if (!fits) {
            refused = item.name;
            return std::nullopt;
        }
        if (!item.folder) plan.files.push_back({item.name, disk.IsFile(folder + item.name)});
    }
    return plan;
}

} // namespace klv::app

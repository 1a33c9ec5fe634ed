#include "app/placed_files.h"

#include <map>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "platform/text.h"

namespace klv::app {

void LogPlacedFiles(const SwitchPlan& plan, const std::vector<PayloadItem>& items) {
    std::map<std::u16string, std::int64_t> sizes;
    for (const PayloadItem& item : items)
        if (!item.folder) sizes[platform::LowerCase(item.name)] = item.size;
    std::size_t listed = 0;
    std::size_t more = 0, moreReplaced = 0;
    std::vector<std::u16string> lines;
    for (const PlannedFile& file : plan.files) {
        if (listed > kListedPlacedBytes) {
            ++more;
            moreReplaced += file.existed ? 1 : 0;
            continue;
        }
        const auto size = sizes.find(platform::LowerCase(file.name));
        const std::string bytes = size == sizes.end() ? std::string("size unknown")
                                                      : std::to_string(size->second) + " bytes";
        const std::u16string line = u"placed " + file.name + u", " + platform::AnsiToUtf16(bytes) +
                                    (file.existed ? u", replaced" : u", new");
        listed += line.size();
        lines.push_back(line);
    }
    LogLines(LogCategory::Phase, lines);
    if (more > 0)
        Log(LogCategory::Phase, "placed " + std::to_string(more) +
                                    " more files, not listed: " + std::to_string(moreReplaced) +
                                    " replaced, " + std::to_string(more - moreReplaced) + " new");
}

std::string HeldBy(platform::Disk& disk, const std::u16string& path) {
    std::string out;
    try {
        for (const std::string& holder : disk.Holders(path))
            out += (out.empty() ? "" : ", ") + holder;
    } catch (...) {
        out.clear(); // a question the system cannot answer changes nothing
    }
    return out;
}

} // namespace klv::app

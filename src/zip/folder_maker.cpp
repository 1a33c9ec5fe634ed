#include "zip/folder_maker.h"

#include <functional>
#include <vector>

namespace klv::zip {

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

} // namespace

std::size_t TZAFolderMaker::KeyHash::operator()(const Key& k) const {
    return std::hash<std::u16string>()(k.part) ^
           (static_cast<std::size_t>(k.parent) * 0x9E3779B97F4A7C15ull);
}

void TZAFolderMaker::Clear() {
    base_.clear();
    haveBase_ = false;
    nodes_.clear();
    nextNode_ = 1;
}

std::int32_t TZAFolderMaker::Child(std::int32_t parent, std::u16string_view part) const {
    const auto it = nodes_.find(Key{parent, std::u16string(part)});
    return it == nodes_.end() ? -1 : it->second;
}

std::int32_t TZAFolderMaker::AddChild(std::int32_t parent, std::u16string_view part) {
    if (nodes_.size() >= kMaxKnown) return -1;
    const auto [it, fresh] = nodes_.try_emplace(Key{parent, std::u16string(part)}, nextNode_);
    if (fresh) ++nextNode_;
    return it->second;
}

platform::DiskStatus TZAFolderMaker::Make(platform::Disk& disk, const std::u16string& base,
                                          std::u16string_view relative) {
    if (!haveBase_ || base != base_) {
        Clear();
        if (!base.empty()) {
            if (const platform::DiskStatus status = platform::MakeFolders(disk, base); !status.ok())
                return status;
        }
        base_ = base;
        haveBase_ = true;
    }
    // The parts of `relative`, as [start, end) ranges; empty parts name no folder.
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    for (std::size_t start = 0; start < relative.size();) {
        std::size_t end = start;
        while (end < relative.size() && !IsSeparator(relative[end]))
            ++end;
        if (end > start) parts.emplace_back(start, end);
        start = end + 1;
    }
    std::int32_t node = 0;
    std::size_t known = 0;
    for (; known < parts.size(); ++known) {
        const auto [start, end] = parts[known];
        const std::int32_t child = Child(node, relative.substr(start, end - start));
        if (child < 0) break;
        node = child;
    }
    if (known == parts.size()) return {};

    const bool joined = base_.empty() || IsSeparator(base_.back());
    auto folder = [&](std::size_t end) {
        std::u16string path = base_;
        if (!joined) path += u'\\';
        path.append(relative.substr(0, end));
        return path;
    };
    // Over an existing tree the whole folder is usually there already: one question. Else
    // each missing folder is made, and below the first one made none is asked for.
    const bool there = disk.IsFolder(folder(parts.back().second));
    bool making = false;
    for (std::size_t i = known; i < parts.size(); ++i) {
        const auto [start, end] = parts[i];
        if (!there) {
            const std::u16string path = folder(end);
            if (making || !disk.IsFolder(path)) {
                if (const platform::DiskStatus status = disk.MakeFolder(path); !status.ok())
                    return status;
                making = true;
            }
        }
        node = node < 0 ? -1 : AddChild(node, relative.substr(start, end - start));
    }
    // A full tree starts again with the next folder.
    if (node < 0) {
        nodes_.clear();
        nextNode_ = 1;
    }
    return {};
}

} // namespace klv::zip

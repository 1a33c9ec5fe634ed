// The folders an extraction makes below its destination, each asked for and made once per
// run: the folders known to exist are kept as a tree of their parts, so that an item's folder
// is looked up in time linear in its name, however deep it lies and however many items share
// it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/disk.h"

namespace klv::zip {

class TZAFolderMaker {
  public:
    // Forgets every folder: the next run asks the disk again.
    void Clear();
    // Makes `base` (a folder path, with or without a trailing separator) and below it the
    // folders of `relative` ('\' or '/' between the parts, a trailing separator or not): the
    // parts known from earlier calls are not asked again, the others are asked for, and made
    // where missing, one by one, parents first.
    platform::DiskStatus Make(platform::Disk& disk, const std::u16string& base,
                              std::u16string_view relative);

  private:
    struct Key {
        std::int32_t parent;
        std::u16string part;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const;
    };
    // The node of `part` below `parent`, or -1.
    std::int32_t Child(std::int32_t parent, std::u16string_view part) const;
    std::int32_t AddChild(std::int32_t parent, std::u16string_view part);
    // Past this many known folders the tree starts again, so that what it keeps stays within
    // a fixed allowance whatever the archive's names.
    static constexpr std::size_t kMaxKnown = 1 << 20;

    std::u16string base_; // the folder the tree hangs from (node 0), made
    bool haveBase_ = false;
    std::unordered_map<Key, std::int32_t, KeyHash> nodes_;
    std::int32_t nextNode_ = 1;
};

} // namespace klv::zip

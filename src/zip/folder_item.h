// Whether a directory entry stands for a folder of the payload rather than a file: the
// directory attribute, or a name that ends in a separator ('/' or '\'). The installer's list of
// the payload and klvpack's check ask it alike.
#pragma once

#include "zip/directory.h"
#include "zip/records.h"

namespace klv::zip {

inline bool IsFolderItem(const TDirItem& item) {
    const std::u16string& name = item.FileName;
    return (item.Header.ExternalAttributes() & kAttrDirectory) != 0 ||
           (!name.empty() && (name.back() == u'/' || name.back() == u'\\'));
}

} // namespace klv::zip

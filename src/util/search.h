// The search of the local drives for Kelvaro installations: every drive that can hold one is
// walked depth first for the program files, system and profile folders are skipped whole, and
// a caller's filter keeps only the finds it accepts. Runs on the caller's thread; the progress
// callback is where the caller keeps its window alive and may ask the search to stop.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace klv::util {

// The program files searched for, separated by ";".
inline const std::string ProgramNames = "kelvaro.exe;klvdemo.exe";

using SearchFilter = std::function<bool(const std::string& path)>;
using SearchProgressCallback = std::function<void(const std::string& folder)>;

// Walks every local drive (not A: or B:) and appends the full paths of the program files found
// to `found`; after each drive, every entry of the whole list that `filter` rejects is removed.
// `output` is emptied. `stop` is the caller's stop flag (the run's SearchStopFlag): the search
// runs while it is false, and once it is set (by `progress`, say) every later folder returns
// at once.
void SearchInstallations(std::vector<std::string>& found, const SearchFilter& filter,
                         const SearchProgressCallback& progress, std::string& output,
                         const bool& stop);

// Appends to `*found` the files below `folder` that match one of `names` (";"-separated names
// or masks), this folder's matches first, then its subfolders', depth first. Folders in `skip`
// (each with a trailing backslash, compared without regard to case) are not entered. A null
// `found` is a caller error. `stop` as for SearchInstallations: set before the call, nothing
// is touched.
void FindFiles(std::vector<std::string>* found, std::string folder, std::string names,
               const SearchProgressCallback& progress, bool skipThumbnails, bool recurse,
               const std::vector<std::string>* skip, const bool& stop);

// One entry per drive present, in letter order, each beginning with its letter ("C:\").
void DriveRoots(std::vector<std::string>& roots);

} // namespace klv::util

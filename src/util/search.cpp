#include "util/search.h"

namespace klv::util {

bool SearchStopFlag = true;

// Filled in by the search's own change; until then a search finds nothing.
void SearchInstallations(std::vector<std::string>&, const SearchFilter&,
                         const SearchProgressCallback&, std::string& output) {
    output.clear();
}

void FindFiles(std::vector<std::string>*, std::string, std::string, const SearchProgressCallback&,
               bool, bool, const std::vector<std::string>*) {}

void DriveRoots(std::vector<std::string>& roots) {
    roots.clear();
}

} // namespace klv::util

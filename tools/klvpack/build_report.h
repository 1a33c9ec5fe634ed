// What klvpack build says beside writing: the maker's mistakes in the package it is about to
// write (the rules check applies, package_rules.h), and its progress while writing.
#pragma once

#include <string>
#include <vector>

#include "progress.h"
#include "zip_writer.h"

namespace klv::klvpack {

// The warnings for a package of `stub` (its caption already set) and `entries`.
std::vector<std::string> BuildWarnings(const std::vector<std::uint8_t>& stub,
                                       const std::vector<PackEntry>& entries);

// The package's file behind a sink that moves a progress line: items as their local headers
// pass (known by the entry's name, in the writer's order), bytes as the items' sizes.
class ProgressSink final : public PackageSink {
  public:
    ProgressSink(platform::FileStream& file, const std::vector<PackEntry>& entries,
                 ProgressLine& line);
    void Append(const std::uint8_t* data, std::size_t count) override;
    void Overwrite(std::uint64_t at, const std::uint8_t* data, std::size_t count) override;
    void Truncate(std::uint64_t size) override;
    // The last item done, and the line's end.
    void Finish();

  private:
    void Write(const std::uint8_t* data, std::size_t count);
    void Follow(const std::uint8_t* data, std::size_t count);
    platform::FileStream& file_;
    const std::vector<PackEntry>& entries_;
    ProgressLine& line_;
    std::uint64_t end_ = 0;
    std::size_t next_ = 0;  // the entry whose local header comes next
    std::string tail_;      // the last bytes seen, where a header may have begun
    std::size_t keep_ = 30; // a local header with the longest name
};

} // namespace klv::klvpack

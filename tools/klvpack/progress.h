// The progress line of long work: bytes and items done, one line on stderr rewritten in place,
// shown only when stderr is a terminal and the work is over a few megabytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace klv::zip {
class TZABaseArchiver;
}

namespace klv::klvpack {

// Whether the descriptor (1 standard output, 2 standard error) is a terminal.
bool IsTerminal(int descriptor);

class ProgressLine {
  public:
    // `what` begins the line ("testing"); the totals are what the work will have done.
    ProgressLine(std::string what, std::int64_t totalBytes, std::int64_t totalItems);
    ~ProgressLine() { Finish(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool On() const { return on_; }
    void ItemDone(std::int64_t bytes = 0);
    void BytesDone(std::int64_t bytes);
    // Takes the line off the terminal before a line of output goes there (when standard
    // output is the same terminal); the next update draws it again.
    void Interrupt();
    // The line as it ends, and a line feed; nothing when the line was never on.
    void Finish();
    // Moves the line's bytes with the archive's overall progress (its test or extraction).
    void Follow(zip::TZABaseArchiver& archive);

  private:
    void Show(bool now);
    std::string what_;
    std::int64_t totalBytes_, totalItems_, bytes_ = 0, items_ = 0;
    bool on_, shown_ = false, finished_ = false, drawn_ = false;
    std::size_t width_ = 0; // of the line drawn last
    std::chrono::steady_clock::time_point last_{};
};

} // namespace klv::klvpack

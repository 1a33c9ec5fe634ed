#include "progress.h"

#include <cstdio>

#include "zip/archiver.h"

#ifdef _WIN32
#include <io.h>
#define KLV_ISATTY _isatty
#else
#include <unistd.h>
#define KLV_ISATTY isatty
#endif

namespace klv::klvpack {

namespace {
constexpr std::int64_t kSmallestShown = 4 << 20;
constexpr auto kInterval = std::chrono::milliseconds(250);

std::string Mib(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1 << 20));
    return text;
}
} // namespace

bool IsTerminal(int descriptor) {
    return KLV_ISATTY(descriptor) != 0;
}

ProgressLine::ProgressLine(std::string what, std::int64_t totalBytes, std::int64_t totalItems)
    : what_(std::move(what)), totalBytes_(totalBytes), totalItems_(totalItems),
      on_(totalBytes > kSmallestShown && IsTerminal(2)) {}

void ProgressLine::ItemDone(std::int64_t bytes) {
    ++items_;
    bytes_ += bytes;
    Show(false);
}

void ProgressLine::BytesDone(std::int64_t bytes) {
    bytes_ = bytes;
    Show(false);
}

void ProgressLine::Show(bool now) {
    if (!on_ || finished_) return;
    const auto at = std::chrono::steady_clock::now();
    if (!now && shown_ && at - last_ < kInterval) return;
    last_ = at;
    shown_ = drawn_ = true;
    const int width =
        std::fprintf(stderr, "\r%s: %s of %s MiB, %lld of %lld items   ", what_.c_str(),
                     Mib(bytes_).c_str(), Mib(totalBytes_).c_str(), static_cast<long long>(items_),
                     static_cast<long long>(totalItems_));
    width_ = width > 0 ? static_cast<std::size_t>(width) : 0;
    std::fflush(stderr);
}

void ProgressLine::Interrupt() {
    if (!drawn_ || finished_ || !IsTerminal(1)) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
    std::fflush(stderr);
    drawn_ = false;
}

void ProgressLine::Finish() {
    if (!shown_ || finished_) return;
    Show(true);
    finished_ = true;
    std::fputs("\n", stderr);
}

void ProgressLine::Follow(zip::TZABaseArchiver& archive) {
    if (!on_) return;
    archive.OnOverallProgress = [this](zip::TZABaseArchiver&, double percent,
                                       zip::TZAProcessOperation, zip::TZAProgressPhase, bool&) {
        BytesDone(static_cast<std::int64_t>(percent / 100 * static_cast<double>(totalBytes_)));
    };
}

} // namespace klv::klvpack

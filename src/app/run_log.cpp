#include "app/run_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/disk.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "platform/tree_files.h"

namespace klv::app {

namespace {

RunLog* current = nullptr;

// Room kept at the end of a full file for the line that says so.
constexpr std::int64_t kFullNoteRoom = 128;

// "2026-12-08 17:20:01.123", the local time.
std::string LocalTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

} // namespace

std::string_view CategoryName(LogCategory category) {
    switch (category) {
    case LogCategory::Start:
        return "start";
    case LogCategory::Package:
        return "package";
    case LogCategory::Folder:
        return "folder";
    case LogCategory::Question:
        return "question";
    case LogCategory::Check:
        return "check";
    case LogCategory::Phase:
        return "phase";
    case LogCategory::Recovery:
        return "recovery";
    case LogCategory::Failure:
        return "failure";
    case LogCategory::Result:
        return "result";
    }
    return "?";
}

std::u16string RunLog::DefaultPath() {
    try {
        const std::u16string temp = platform::TempDirectory();
        return temp.empty() ? std::u16string() : temp + u"klvupgrade.log";
    } catch (...) {
        return {};
    }
}

std::u16string RunLog::RotatedPath(const std::u16string& path, int n) {
    if (n == 0) return path;
    const std::size_t slash = path.find_last_of(u"\\/");
    const std::size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind(u'.');
    const std::u16string number = u"." + platform::Utf8ToUtf16(std::to_string(n));
    if (dot == std::u16string::npos || dot <= nameStart) return path + number;
    return path.substr(0, dot) + number + path.substr(dot);
}

bool RunLog::IsOwnLog(platform::Disk& disk, const std::u16string& path) {
    // "2026-12-08 17:20:01.123 start    ": the time, then a category padded to its column.
    constexpr std::string_view kStamp = "0000-00-00 00:00:00.000 ";
    constexpr std::size_t kColumn = 9;
    std::string data;
    if (disk.Kind(path) != platform::EntryKind::File || !disk.Read(path, data).ok()) return false;
    if (data.size() < kStamp.size() + kColumn) return false;
    for (std::size_t i = 0; i < kStamp.size(); ++i)
        if (kStamp[i] == '0' ? data[i] < '0' || data[i] > '9' : data[i] != kStamp[i]) return false;
    const std::string_view column = std::string_view(data).substr(kStamp.size(), kColumn);
    for (int c = 0; c <= static_cast<int>(LogCategory::Result); ++c) {
        const std::string_view name = CategoryName(static_cast<LogCategory>(c));
        if (column.starts_with(name) &&
            column.find_first_not_of(' ', name.size()) == std::string_view::npos)
            return true;
    }
    return false;
}

bool RunLog::Rotate() {
    const int last = limits_.keep - 1;
    // The first place from the top that may be taken: a free name, the oldest kept log, or
    // the last of ours before a file that is not.
    int free = 0;
    for (int n = 1; n <= last; ++n) {
        const std::u16string at = RotatedPath(path_, n);
        if (disk_.Kind(at) == platform::EntryKind::Missing) {
            free = n;
            break;
        }
        if (!IsOwnLog(disk_, at)) {
            free = n - 1;
            break;
        }
        free = n;
    }
    if (disk_.Kind(RotatedPath(path_, free)) != platform::EntryKind::Missing)
        disk_.RemoveFile(RotatedPath(path_, free));
    for (int n = free - 1; n >= 0; --n)
        if (!disk_.Move(RotatedPath(path_, n), RotatedPath(path_, n + 1)).ok()) break;
    return disk_.Kind(path_) == platform::EntryKind::Missing;
}

RunLog::RunLog(std::u16string path, LogLimits limits, platform::Disk& disk)
    : path_(std::move(path)), limits_(limits), disk_(disk) {
    if (path_.empty() || limits_.keep < 1) return;
    try {
        // A log in a folder that does not exist yet (a /LOG of a fresh machine) makes it.
        const std::u16string folder(platform::PathHead(path_, u"\\/"));
        if (!folder.empty() && folder != path_ && !disk_.IsFolder(folder) &&
            !platform::MakeFolders(disk_, folder).ok())
            return;
        const platform::EntryKind kind = disk_.Kind(path_);
        if (kind != platform::EntryKind::Missing) {
            // Only a log of ours is moved down or written on; a file of the user's stays.
            if (!IsOwnLog(disk_, path_)) {
                leftAlone_ = true;
                return;
            }
            if (!limits_.carryOn && !Rotate()) {
                leftAlone_ = true;
                return;
            }
        }
        if (!disk_.IsFile(path_)) {
            platform::DiskStatus status;
            if (!disk_.Create(path_, status)) return;
        }
        writing_ = true;
    } catch (...) {
        writing_ = false;
    }
}

void RunLog::Line(LogCategory category, std::string_view text) noexcept {
    if (!writing_) return;
    try {
        Write(category, platform::Utf16ToUtf8(platform::AnsiToUtf16(text)));
    } catch (...) {
        // A log that cannot be written changes nothing for the run.
    }
}

void RunLog::Line(LogCategory category, std::u16string_view text) noexcept {
    if (!writing_) return;
    try {
        Write(category, platform::Utf16ToUtf8(text));
    } catch (...) {
    }
}

void RunLog::Write(LogCategory category, const std::string& utf8) {
    std::string line = LocalTimestamp();
    line += ' ';
    line += CategoryName(category);
    line.append(9 - CategoryName(category).size(), ' ');
    for (char c : utf8)
        line += c == '\r' || c == '\n' ? ' ' : c;
    line += "\r\n";

    // Opened for each line: another run may move the file away between two lines.
    platform::DiskStatus status;
    const auto file = disk_.Extend(path_, status);
    if (!file) return; // gone for now; perhaps back for the next line
    const std::int64_t size = file->Size();
    if (size < 0) return;
    if (size + static_cast<std::int64_t>(line.size()) > limits_.maxBytes - kFullNoteRoom) {
        writing_ = false;
        file->Write(LocalTimestamp() + " log      the log is full (" +
                    std::to_string(limits_.maxBytes) + " bytes); later lines are left out\r\n");
        return;
    }
    file->Write(line);
}

std::unique_ptr<RunLog> OpenRunLog(const std::u16string& path, bool carryOn, platform::Disk& disk) {
    LogLimits limits;
    limits.carryOn = carryOn;
    auto log = std::make_unique<RunLog>(path, limits, disk);
    const std::u16string fallback = RunLog::DefaultPath();
    if (!log->LeftAlone() || path == fallback) return log;
    return std::make_unique<RunLog>(fallback, LogLimits{}, disk);
}

void SetRunLog(RunLog* log) {
    current = log;
}

void Log(LogCategory category, std::string_view text) noexcept {
    if (current) current->Line(category, text);
}

void Log(LogCategory category, std::u16string_view text) noexcept {
    if (current) current->Line(category, text);
}

} // namespace klv::app

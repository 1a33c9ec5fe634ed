#include "app/run_log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "app/stubconf/item_names.h"
#include "platform/disk.h"
#include "platform/file_stream.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "platform/tree_files.h"

namespace klv::app {

namespace {

RunLog* current = nullptr;

// Room kept at the end of a full file for the line that says so.
constexpr std::int64_t kFullNoteRoom = 128;
// A result line is written whole up to this length.
constexpr std::size_t kResultLineMax = 4096;

bool Separator(char16_t c) {
    return c == u'\\' || c == u'/';
}

std::u16string Ansi16(const std::string& text) {
    return platform::AnsiToUtf16(text);
}

// "Windows error 53, bad network path" (the name where the error has a short one).
std::u16string ErrorOf(const platform::DiskStatus& status) {
    const std::string name = platform::SystemErrorName(status.code);
    return u"Windows error " + Ansi16(std::to_string(status.code)) +
           (name.empty() ? u"" : u", " + Ansi16(name));
}

// True when a part of `path` before its last one is a link, junction or mount point: the
// disk's no-link rule from the first part below the root, a drive's (C:\x) or a share's
// (\\server\share\x).
bool LinkOnTheWay(platform::Disk& disk, const std::u16string& path) {
    const std::u16string folder =
        platform::WithSeparators(std::u16string(platform::PathHead(path, u"\\/")));
    std::size_t root = platform::StartsWithDrive(folder) ? 3 : 0;
    if (folder.starts_with(u"\\\\")) {
        root = 2;
        for (int part = 0; part < 2 && root < folder.size(); ++part)
            root = std::min(folder.find(u'\\', root), folder.size()) + 1;
    }
    root = std::min(root, folder.size());
    return !platform::PathBelow(disk, folder.substr(0, root), folder.substr(root));
}

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

// One line as the log holds it: the time, the category in its column, the text on one line.
std::string LineOf(std::string_view name, std::string_view text) {
    std::string line = LocalTimestamp();
    line += ' ';
    line += name;
    line.append(9 - std::min<std::size_t>(name.size(), 8), ' ');
    for (char c : text)
        line += c == '\r' || c == '\n' ? ' ' : c;
    return line + "\r\n";
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
    if (disk.Kind(path) != platform::EntryKind::File || !disk.IsRegularFile(path) ||
        !disk.ReadHead(path, kStamp.size() + kColumn, data).ok())
        return false;
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

std::optional<std::u16string> LogPathProblem(std::u16string_view path) {
    std::u16string_view rest = path;
    if (path.size() >= 4 && Separator(path[0]) && Separator(path[1]) &&
        (path[2] == u'.' || path[2] == u'?') && Separator(path[3])) {
        // "\\?\" before a drive or a share still names a file; anything else is the system's
        // device space.
        rest = path.substr(4);
        const bool drive =
            rest.size() >= 3 && platform::StartsWithDrive(rest) && Separator(rest[2]);
        const bool share = rest.size() >= 4 && (rest[0] | 0x20) == u'u' &&
                           (rest[1] | 0x20) == u'n' && (rest[2] | 0x20) == u'c' &&
                           Separator(rest[3]);
        if (path[2] == u'.' || !(drive || share))
            return u"names a device path (" + std::u16string(path.substr(0, 4)) +
                   u"), which is never opened as a log";
        if (share) rest = rest.substr(4);
    } else if (path.size() >= 4 && Separator(path[0]) && path[1] == u'?' && path[2] == u'?' &&
               Separator(path[3])) {
        return u"names a device path (\\??\\), which is never opened as a log";
    }
    if (rest.find(u':', platform::StartsWithDrive(rest) ? 2 : 0) != std::u16string_view::npos)
        return u"has a ':' that is not a drive's (a stream or a device), and is never opened as "
               u"a log";
    for (std::size_t start = 0; start <= rest.size();) {
        std::size_t end = start;
        while (end < rest.size() && !Separator(rest[end]))
            ++end;
        const std::u16string_view part = rest.substr(start, end - start);
        if (stubconf::IsDeviceName(part))
            return u"names the device " + std::u16string(part) +
                   u", which is never opened as a log";
        start = end + 1;
    }
    return std::nullopt;
}

RunLog::RunLog(std::u16string path, LogLimits limits, platform::Disk& disk)
    : path_(std::move(path)), limits_(limits), disk_(disk) {
    if (path_.empty() || limits_.keep < 1) return;
    try {
        if (auto why = Start()) {
            refusal_ = std::move(*why);
            return;
        }
        writing_ = true;
    } catch (...) {
        writing_ = false;
        refusal_ = u"cannot be written";
    }
}

std::optional<std::u16string> RunLog::Start() {
    if (auto why = LogPathProblem(path_)) return why;
    if (limits_.carryOn && LinkOnTheWay(disk_, path_))
        return u"lies behind a link, junction or mount point, which the copy started as "
               u"administrator does not follow";
    // A log in a folder that does not exist yet (a /LOG of a fresh machine) makes it.
    const std::u16string folder(platform::PathHead(path_, u"\\/"));
    if (!folder.empty() && folder != path_ && !disk_.IsFolder(folder)) {
        if (limits_.carryOn) return u"is gone: its folder does not exist";
        if (const platform::DiskStatus made = platform::MakeFolders(disk_, folder); !made.ok())
            return u"cannot be made: its folder cannot be made (" + ErrorOf(made) + u")";
    }
    const platform::EntryKind kind = disk_.Kind(path_);
    if (kind != platform::EntryKind::Missing) {
        if (!disk_.IsRegularFile(path_))
            return u"is not a plain file (a folder, a link or a device), and is left as it is";
        // Only a log of ours is moved down or written on; a file of the user's stays.
        if (!IsOwnLog(disk_, path_) || (!limits_.carryOn && !Rotate())) {
            leftAlone_ = true;
            return u"is not a log of this installer or cannot be changed: it is left as it is";
        }
    } else if (limits_.carryOn) {
        return u"is gone: the copy started as administrator makes no file there";
    }
    if (!disk_.IsFile(path_)) {
        platform::DiskStatus status;
        if (!disk_.Create(path_, status)) return u"cannot be made (" + ErrorOf(status) + u")";
    }
    return std::nullopt;
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

void RunLog::Lines(LogCategory category, const std::vector<std::u16string>& texts) noexcept {
    if (!writing_) return;
    try {
        // One write for them all where they fit before the reserve (a file opened once, not
        // once a line); else line by line, as far as they go.
        if (category != LogCategory::Failure && category != LogCategory::Result &&
            !reserveReached_) {
            std::string block;
            for (const std::u16string& text : texts)
                block += LineOf(CategoryName(category), platform::Utf16ToUtf8(text));
            if (Append(block,
                       limits_.maxBytes - std::min(limits_.reserveBytes, limits_.maxBytes / 4)))
                return;
        }
        for (const std::u16string& text : texts)
            Write(category, platform::Utf16ToUtf8(text));
    } catch (...) {
    }
}

void RunLog::Write(LogCategory category, const std::string& utf8) {
    const std::int64_t reserve = std::min(limits_.reserveBytes, limits_.maxBytes / 4);
    if (category == LogCategory::Result) {
        // The run's last line, always: after it, nothing of this run follows.
        if (leftOut_ > 0)
            Append(LineOf("log", std::to_string(leftOut_) +
                                     " lines were left out: the log reached its bound of " +
                                     std::to_string(limits_.maxBytes) + " bytes"),
                   -1);
        leftOut_ = 0;
        Append(LineOf(CategoryName(category), utf8.substr(0, kResultLineMax)), -1);
        return;
    }
    const std::string line = LineOf(CategoryName(category), utf8);
    if (category == LogCategory::Failure) {
        if (!Append(line, limits_.maxBytes - kFullNoteRoom)) ++leftOut_;
        return;
    }
    if (!reserveReached_ && Append(line, limits_.maxBytes - reserve)) return;
    if (!reserveReached_) {
        reserveReached_ = true;
        Append(LineOf("log", "the log is nearly full (" + std::to_string(limits_.maxBytes) +
                                 " bytes): from here only failures and the result are written"),
               -1);
    }
    ++leftOut_;
}

bool RunLog::Append(const std::string& line, std::int64_t bound) {
    // Opened for each line: another run may move the file away between two lines.
    platform::DiskStatus status;
    const auto file = disk_.Extend(path_, status);
    if (!file) return true; // gone for now; perhaps back for the next line
    if (bound >= 0) {
        const std::int64_t size = file->Size();
        if (size < 0 || size + static_cast<std::int64_t>(line.size()) > bound) return false;
    }
    file->Write(line);
    return true;
}

std::unique_ptr<RunLog> OpenRunLog(const std::u16string& path, bool carryOn,
                                   std::u16string& refusal, platform::Disk& disk) {
    LogLimits limits;
    limits.carryOn = carryOn;
    auto log = std::make_unique<RunLog>(path, limits, disk);
    refusal = log->Refusal();
    const std::u16string fallback = RunLog::DefaultPath();
    if (log->Writing() || path.empty() || path == fallback) return log;
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

void LogLines(LogCategory category, const std::vector<std::u16string>& texts) noexcept {
    if (current) current->Lines(category, texts);
}

} // namespace klv::app

#include "zip/output.h"

#include <string_view>

namespace klv::zip {

static_assert(kOutputBlockSize == TZAWriteBehind::kBufferSize,
              "inflate blocks are handed to the writer whole");

bool TZAOutput::Put(const std::uint8_t* data, std::int64_t count) {
    while (!Write(data, count)) {
        if (!ShortWrite()) return false;
        Rewind();
    }
    return true;
}

bool TZAOutput::TakeBlock(std::unique_ptr<std::uint8_t[]>&, std::size_t) {
    return false;
}

bool TZAOutput::Finish() {
    while (!Drain()) {
        if (!ShortWrite()) return false;
        RetryDrain();
    }
    return true;
}

bool TZAStreamOutput::Write(const std::uint8_t* data, std::int64_t count) {
    start_ = stream_.Position();
    return stream_.Write(data, count) == count;
}

bool TZAFileOutput::Write(const std::uint8_t* data, std::int64_t count) {
    const std::string_view bytes(reinterpret_cast<const char*>(data),
                                 static_cast<std::size_t>(count));
    if (!file_.WriteAt(position_, bytes).ok()) return false;
    position_ += count;
    return true;
}

bool TZAWriteBehindOutput::Write(const std::uint8_t* data, std::int64_t count) {
    start_ = stream_.Position();
    return stream_.Write(data, count) == count;
}

TZAPendingFile::TZAPendingFile(platform::Disk& disk, const std::u16string& target) : disk_(disk) {
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
        name_ = target + u".klv" + std::u16string(1, static_cast<char16_t>(u'0' + attempt / 10)) +
                std::u16string(1, static_cast<char16_t>(u'0' + attempt % 10)) + u"~";
        file_ = disk_.Create(name_, status_);
    }
}

TZAPendingFile::TZAPendingFile(platform::Disk& disk, const std::u16string& target,
                               std::unique_ptr<platform::DiskFile> file)
    : disk_(disk), name_(target), file_(std::move(file)), inPlace_(true) {}

TZAPendingFile::~TZAPendingFile() {
    Close();
    if (!kept_ && created_) disk_.RemoveFile(name_);
}

bool TZAPendingFile::Created() {
    created_ = file_ != nullptr;
    return created_;
}

std::unique_ptr<platform::DiskFile> TZAPendingFile::Release() {
    kept_ = true;
    return std::move(file_);
}

bool TZAPendingFile::MoveOver(const std::u16string& target) {
    Close();
    if (inPlace_) return kept_ = true;
    status_ = disk_.Move(name_, target);
    kept_ = status_.ok();
    return kept_;
}

} // namespace klv::zip

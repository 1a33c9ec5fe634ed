#include "zip/output.h"

#include "platform/files.h"

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
    start_ = file_.Position();
    return file_.Write(data, count) == count;
}

bool TZAWriteBehindOutput::Write(const std::uint8_t* data, std::int64_t count) {
    start_ = stream_.Position();
    return stream_.Write(data, count) == count;
}

TZAPendingFile::TZAPendingFile(const std::u16string& target) {
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
        name_ = target + u".klv" + std::u16string(1, static_cast<char16_t>(u'0' + attempt / 10)) +
                std::u16string(1, static_cast<char16_t>(u'0' + attempt % 10)) + u"~";
        int error = 0;
        file_ = platform::FileStream::CreateNew(name_, error);
    }
}

TZAPendingFile::TZAPendingFile(const std::u16string& target,
                               std::unique_ptr<platform::FileStream> file)
    : name_(target), file_(std::move(file)), inPlace_(true) {}

TZAPendingFile::~TZAPendingFile() {
    Close();
    if (!kept_ && created_) platform::RemoveFile(name_);
}

bool TZAPendingFile::Created() {
    created_ = file_ != nullptr;
    return created_;
}

bool TZAPendingFile::MoveOver(const std::u16string& target) {
    Close();
    if (inPlace_) return kept_ = true;
    kept_ = platform::MoveReplacing(name_, target);
    return kept_;
}

} // namespace klv::zip

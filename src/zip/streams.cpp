#include "zip/streams.h"

#include <algorithm>
#include <cstring>

#include "zip/errors.h"

namespace klv::zip {

TZAFileStream::TZAFileStream(const std::u16string& fileName, std::uint16_t mode)
    : fileName_(fileName) {
    int error = 0;
    file_ = platform::FileStream::Open(fileName, mode, error);
    if (!file_) throw EFileStreamError(mode == platform::fmCreate, fileName, error);
    size_ = file_->Size();
}

std::int64_t TZAFileStream::Read(void* buffer, std::int64_t count) {
    if (limited_) count = std::max<std::int64_t>(0, std::min(count, size_ - Position()));
    std::int64_t n = file_->Read(buffer, count);
    if (n < 0) throw EZAError(u"Stream read error");
    return n;
}

std::int64_t TZAFileStream::Write(const void* buffer, std::int64_t count) {
    std::int64_t n = file_->Write(buffer, count);
    if (n < 0) return 0;
    size_ = std::max(size_, file_->Position());
    return n;
}

void TZAFileStream::LimitSize(std::int64_t size) {
    if (size >= size_) return;
    size_ = size;
    limited_ = true;
}

void TZAFileStream::SetSize(std::int64_t size) {
    if (file_->SetSize(size)) size_ = size;
}

std::int64_t TZAMemoryStream::Read(void* buffer, std::int64_t count) {
    std::int64_t size = Size();
    if (pos_ >= size || count <= 0) return 0;
    std::int64_t n = std::min(count, size - pos_);
    std::memcpy(buffer, data_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
}

std::int64_t TZAMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    std::int64_t end = pos_ + count;
    if (end > Size()) data_.resize(static_cast<std::size_t>(end));
    std::memcpy(data_.data() + pos_, buffer, static_cast<std::size_t>(count));
    pos_ = end;
    return count;
}

} // namespace klv::zip

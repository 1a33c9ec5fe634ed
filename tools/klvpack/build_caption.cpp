#include "build_caption.h"

#include <algorithm>
#include <cstring>

#include "app/stubconf/stored_caption.h"

namespace klv::klvpack {

namespace {
using stubconf::CaptionMarker;
}

std::size_t CaptionCapacity() {
    return stubconf::CaptionCapacity;
}

std::optional<std::size_t> FindCaptionBlock(std::span<const std::uint8_t> stub) {
    const auto* begin = reinterpret_cast<const char*>(stub.data());
    const std::string_view bytes(begin, stub.size());
    const std::size_t first = bytes.find(CaptionMarker);
    if (first == std::string_view::npos) return std::nullopt;
    if (bytes.find(CaptionMarker, first + 1) != std::string_view::npos) return std::nullopt;
    const std::size_t text = first + CaptionMarker.size();
    if (text + stubconf::CaptionCapacity > stub.size()) return std::nullopt;
    return text;
}

std::string ReadCaption(std::span<const std::uint8_t> stub, std::size_t at) {
    const auto* p = reinterpret_cast<const char*>(stub.data()) + at;
    return std::string(p, strnlen(p, stubconf::CaptionCapacity));
}

bool WriteCaption(std::vector<std::uint8_t>& stub, std::size_t at, const std::string& caption) {
    if (caption.size() >= stubconf::CaptionCapacity) return false;
    if (caption.find('\0') != std::string::npos) return false;
    std::fill_n(stub.begin() + static_cast<std::ptrdiff_t>(at), stubconf::CaptionCapacity, 0);
    std::memcpy(stub.data() + at, caption.data(), caption.size());
    return true;
}

} // namespace klv::klvpack

// The caption block itself. It is built at compile time and read through a volatile object, so
// that the compiler neither folds the text into the code nor drops the block: the package maker
// may have replaced the text in this very file. The marker appears nowhere else in the program.
#include "app/win32/stored_caption.h"

#include "app/stubconf/stored_caption.h"

namespace klv::app::win32 {

struct CaptionBlock {
    char bytes[stubconf::CaptionMarker.size() + stubconf::CaptionCapacity];
};

namespace {

consteval CaptionBlock MakeCaptionBlock() {
    static_assert(stubconf::StoredCaption.size() < stubconf::CaptionCapacity);
    CaptionBlock block{};
    std::size_t at = 0;
    for (char c : stubconf::CaptionMarker)
        block.bytes[at++] = c;
    for (char c : stubconf::StoredCaption)
        block.bytes[at++] = c;
    return block;
}

} // namespace

} // namespace klv::app::win32

extern "C" {
extern const volatile klv::app::win32::CaptionBlock klvStoredCaptionBlock;
[[gnu::used]] constinit const volatile klv::app::win32::CaptionBlock klvStoredCaptionBlock =
    klv::app::win32::MakeCaptionBlock();
}

namespace klv::app::win32 {

std::string StoredCaptionText() {
    constexpr std::size_t kTextStart = stubconf::CaptionMarker.size();
    std::string text;
    for (std::size_t i = kTextStart; i < sizeof klvStoredCaptionBlock.bytes; ++i) {
        const char c = klvStoredCaptionBlock.bytes[i];
        if (c == '\0') break;
        text.push_back(c);
    }
    return text;
}

} // namespace klv::app::win32

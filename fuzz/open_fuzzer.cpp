// Opens any bytes as an archive (as a plain archive and as an executable with a payload) and
// walks the whole directory through the item search. Only the engine's own errors may come
// out; anything else, a crash or a sanitizer report is a finding.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "zip/archiver.h"

namespace {

std::filesystem::path ScratchFile(const char* ext) {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("klvfuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir / (std::string("input") + ext);
}

void Walk(klv::zip::TZipArchive& archive) {
    klv::zip::TZAArchiveItem item;
    for (bool ok = archive.FindFirstItem(u"*.*", item, {}, 0xFFFF); ok;
         ok = archive.FindNextItem(item)) {
    }
    archive.FindFirstItem(u"*stub.ini", item, u"*\\x*", klv::zip::kDefaultSearchAttr);
    archive.Options.Recurse = false;
    if (archive.FindFirstItem(u"stub.ini", item)) archive.FindNextItem(item);
    archive.FindFirstItem(u"data/*.t?t", item);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* ext = size > 0 && (data[0] & 1) ? ".exe" : ".zip";
    const auto path = ScratchFile(ext);
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    klv::zip::TZipArchive archive;
    archive.FileName = path.u16string();
    try {
        archive.Open(klv::zip::kOpenModeShareRead);
        Walk(archive);
        archive.Close();
    } catch (const klv::zip::EZAError&) {
    }
    return 0;
}

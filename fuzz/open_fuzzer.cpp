// Opens any bytes as an archive (as a plain archive and as an executable with a payload),
// walks the whole directory through the item search, tests every item and extracts the
// archive into a scratch folder. Only the engine's own errors may come out; anything else,
// a crash, a hang or a sanitizer report is a finding.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "zip/archiver.h"

namespace {

const std::filesystem::path& ScratchFolder() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("klvfuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
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
    archive.Options.Recurse = true;
}

// Handlers that never ask anyone: failures are ignored, encrypted items are tried with one
// password and then skipped.
void Quiet(klv::zip::TZipArchive& archive) {
    using namespace klv::zip;
    archive.OnProcessFileFailure = [](TZABaseArchiver&, const std::u16string&, TZAProcessOperation,
                                      int, int, const std::u16string&, TZAAction& action) {
        action = TZAAction::fxaIgnore;
    };
    archive.OnPassword = [](TZABaseArchiver&, const std::u16string&, std::string&, bool& skip) {
        skip = true;
    };
    archive.Options.OverwriteMode = TZAOverwriteMode::omAlways;
}

bool SmallEnoughToWrite(klv::zip::TZipArchive& archive) {
    const auto& dir = archive.DirManager()->Directory;
    std::int64_t total = 0;
    for (std::int32_t i = 0; i < dir.Count(); ++i)
        total += std::max<std::int64_t>(dir.Item(i).UncompressedSize(), 0);
    return dir.Count() <= 200 && total <= (8 << 20);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool exe = size > 0 && (data[0] & 1);
    const auto path = ScratchFolder() / (exe ? "input.exe" : "input.zip");
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    klv::zip::TZipArchive archive;
    archive.FileName = path.u16string();
    archive.SetPassword("secret");
    archive.ExtractCorruptedFiles = size > 1 && (data[1] & 1);
    Quiet(archive);
    try {
        archive.Open(klv::zip::kOpenModeShareRead);
        Walk(archive);
        archive.TestMatching(u"*.*", 0xFFFF);
        if (SmallEnoughToWrite(archive)) {
            const auto out = ScratchFolder() / "out";
            archive.BaseDir = out.u16string();
            archive.ExtractMatching(u"*.*", 0xFFFF);
            std::error_code ec;
            std::filesystem::remove_all(out, ec);
            // Nothing may appear beside the destination folder.
            for (const auto& e : std::filesystem::directory_iterator(ScratchFolder())) {
                const auto name = e.path().filename();
                if (name != "input.exe" && name != "input.zip") __builtin_trap();
            }
        }
        archive.Close();
    } catch (const klv::zip::EZAError&) {
    }
    return 0;
}

// The package maker's ZIP writer on the paths a payload's files take: large files deflated in
// pieces, a large file that deflating does not shrink written again as it is, entries kept as
// they are, UTF-8 names; read back by the engine, the same bytes in memory and in a file.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "fixtures/archive.h"
#include "zip/test_util.h"

namespace klv::test {
namespace {

std::string Noise(std::size_t size) {
    std::mt19937 rng(11);
    std::string s(size, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

TEST(PackageWriter, LargeAndSmallEntriesReadBackIntactInTheirMethods) {
    const std::size_t piece = 64 << 10;
    Archive a;
    a.prefix = FakeExecutable(1000);
    a.options.chunkSize = piece; // several pieces for each large entry
    a.options.threads = 2;
    std::string text;
    while (text.size() < 5 * piece)
        text += "regel " + std::to_string(text.size()) + " van een lange tekst\r\n";
    const std::string noise = Noise(3 * piece + 17);
    a.add("tekst.txt", text);
    a.add("ruis.bin", noise); // deflated piece by piece, then kept as it is after all
    a.add("bewaard.txt", text).store = true;
    a.addDir("Leeg/");
    a.add("Caf\xC3\xA9.txt", "koffie");
    a.add("leeg.txt");
    const std::string bytes = a.build();
    EXPECT_EQ(bytes.size() % 8, 0u);

    ScratchDir dir;
    auto z = OpenBytes(dir, "pakket.exe", bytes);
    const zip::TZADirArray& d = Dir(*z);
    ASSERT_EQ(d.Count(), 6);
    const std::string contents[] = {text, noise, text, "", "koffie", ""};
    const std::uint16_t methods[] = {zip::kMethodDeflated, zip::kMethodStored, zip::kMethodStored,
                                     zip::kMethodStored,   zip::kMethodStored, zip::kMethodStored};
    for (int i = 0; i < d.Count(); ++i) {
        const zip::TDirItem& item = d.Item(i);
        EXPECT_EQ(item.Header.Method(), methods[i]) << i;
        EXPECT_EQ(item.Header.Crc32(), crc32Of(contents[i])) << i;
        // Offsets count from the package's start.
        EXPECT_EQ(
            bytes.compare(static_cast<std::size_t>(item.LocalHeaderOffset()), 4, "PK\x03\x04"), 0)
            << i;
        if (i == 3) continue;
        zip::TZAMemoryStream out;
        z->ExtractItemToStream(i, out);
        EXPECT_TRUE(std::string(out.Data().begin(), out.Data().end()) == contents[i]) << i;
    }
    EXPECT_EQ(d.Item(1).Header.CompressedSize(), noise.size());
    EXPECT_EQ(d.Item(4).FileName, u"Caf\u00e9.txt");
    EXPECT_EQ(d.Item(4).Header.Flags() & zip::kFlagUtf8, zip::kFlagUtf8);
    EXPECT_EQ(d.Item(3).Header.ExternalAttributes(), zip::kAttrDirectory);

    // The same bytes through a file, and with another number of threads.
    int error = 0;
    auto file = platform::FileStream::CreateNew(U16(dir / "file.exe"), error);
    ASSERT_TRUE(file);
    a.options.threads = 1;
    const auto* prefix = reinterpret_cast<const std::uint8_t*>(a.prefix.data());
    klvpack::WritePackage(*file, std::span(prefix, a.prefix.size()), a.entries, a.options);
    file.reset();
    EXPECT_TRUE(ReadBytes(dir / "file.exe") == bytes);
}

// A package in memory whose maker rewrites a file when the writer cuts its data back, that
// is between the file's deflating reading and its second, stored one.
class RewritingSink final : public klvpack::PackageSink {
  public:
    RewritingSink(std::filesystem::path file, std::string replacement)
        : file_(std::move(file)), replacement_(std::move(replacement)) {}
    void Append(const std::uint8_t* data, std::size_t count) override {
        bytes.append(reinterpret_cast<const char*>(data), count);
    }
    void Overwrite(std::uint64_t at, const std::uint8_t* data, std::size_t count) override {
        bytes.replace(static_cast<std::size_t>(at), count, reinterpret_cast<const char*>(data),
                      count);
    }
    void Truncate(std::uint64_t size) override {
        bytes.resize(static_cast<std::size_t>(size));
        std::fstream f(file_, std::ios::binary | std::ios::in | std::ios::out);
        f.write(replacement_.data(), static_cast<std::streamsize>(replacement_.size()));
    }
    std::string bytes;

  private:
    std::filesystem::path file_;
    std::string replacement_;
};

void ExpectChangedRefused(const std::vector<klvpack::PackEntry>& entries,
                          const klvpack::WriterOptions& options, klvpack::PackageSink& sink) {
    try {
        klvpack::WritePackage(sink, {}, entries, options);
        ADD_FAILURE() << "written";
    } catch (const klvpack::PackError& e) {
        EXPECT_EQ(std::string(e.what()), "ruis.bin: the file changed while the package was built");
    }
}

TEST(PackageWriter, RefusesFilesThatChangeBetweenTheirListingAndTheirReadings) {
    ScratchDir dir;
    Archive a;
    a.options.chunkSize = 64 << 10;
    const std::string noise = Noise(3 * a.options.chunkSize);
    std::string other = noise;
    other[other.size() / 2] ^= 1;
    // Rewritten in place at its size between the two readings: the second reading's bytes
    // would go into the package under the first reading's CRC.
    WriteBytes(dir / "ruis.bin", noise);
    klvpack::PackEntry& file = a.add("ruis.bin");
    file.source = U16(dir / "ruis.bin");
    file.size = noise.size();
    RewritingSink rewriting(dir / "ruis.bin", other);
    ExpectChangedRefused(a.entries, a.options, rewriting);

    // Empty when listed, with content when written.
    WriteBytes(dir / "ruis.bin", "nu met inhoud");
    file.size = 0;
    RewritingSink untouched(dir / "ongebruikt", "");
    ExpectChangedRefused(a.entries, a.options, untouched);

    // Unchanged, the same file is written and reads back intact.
    WriteBytes(dir / "ruis.bin", noise);
    file.size = noise.size();
    const std::string bytes = a.build();
    auto z = OpenBytes(dir, "pakket.zip", bytes);
    zip::TZAMemoryStream out;
    z->ExtractItemToStream(0, out);
    EXPECT_TRUE(std::string(out.Data().begin(), out.Data().end()) == noise);
}

} // namespace
} // namespace klv::test

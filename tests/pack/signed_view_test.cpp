// The signed view of the archive component: a package whose certificate table follows the
// archive opens as before signing, through the end record, without a rebuilt directory.
#include <gtest/gtest.h>

#include "fixtures/archive.h"
#include "zip/signed_view.h"
#include "zip/test_util.h"

namespace klv::test {
namespace {

constexpr std::size_t kPe = 0x80;
constexpr std::size_t kOptional = kPe + 24;

// The headers of a PE image (PE32+ or PE32) with an empty security directory entry.
std::string PeHeaders(bool plus) {
    std::string s(0x200, '\0');
    s.replace(0, 2, "MZ");
    s.replace(0x3C, 4, std::string("\x80\0\0\0", 4));
    s.replace(kPe, 4, std::string("PE\0\0", 4));
    std::string v;
    put16(v, plus ? 240 : 224);
    s.replace(kPe + 20, 2, v);
    v.clear();
    put16(v, plus ? 0x20B : 0x10B);
    s.replace(kOptional, 2, v);
    v.clear();
    put32(v, 16);
    s.replace(kOptional + (plus ? 108 : 92), 4, v);
    return s;
}

void SetSecurityEntry(std::string& file, bool plus, std::uint64_t offset, std::uint64_t size) {
    std::string v;
    put32(v, offset);
    put32(v, size);
    file.replace(kOptional + (plus ? 112 : 96) + 4 * 8, 8, v);
}

// A package: headers, a stub body, an archive with offsets from the file's start, and a
// certificate table behind it when `signed`.
std::string Package(bool plus, bool sign) {
    Archive w;
    w.prefix = PeHeaders(plus) + FakeExecutable(3000).substr(2);
    w.addDir("Data/");
    w.add("Data/voornamen.txt", std::string(5000, 'j'));
    w.add("kelvaro.exe", "program");
    const std::string certificate =
        sign ? std::string("\x10\x05\0\0\0\x02\x02\0", 8) + std::string(1296, 'c') : "";
    std::string file = w.build() + certificate;
    if (sign) SetSecurityEntry(file, plus, file.size() - certificate.size(), certificate.size());
    return file;
}

std::unique_ptr<zip::TZipArchive> OpenPackage(const ScratchDir& dir, const std::string& bytes,
                                              bool signedView) {
    WriteBytes(dir / "package.exe", bytes);
    auto a = std::make_unique<zip::TZipArchive>();
    a->FileName = U16(dir / "package.exe");
    a->SignedView = signedView;
    a->Open(zip::kOpenModeShareRead);
    return a;
}

void ExpectIntact(zip::TZipArchive& a) {
    ASSERT_EQ(Dir(a).Count(), 3);
    for (std::int32_t i = 0; i < Dir(a).Count(); ++i) {
        zip::TZAMemoryStream out;
        a.ExtractItemToStream(i, out);
        EXPECT_EQ(out.Data().size(), static_cast<std::size_t>(Dir(a).Item(i).UncompressedSize()));
    }
}

TEST(SignedView, SignedPackageOpensThroughItsEndRecord) {
    for (bool plus : {true, false}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        ScratchDir dir;
        const std::string bytes = Package(plus, true);
        auto a = OpenPackage(dir, bytes, true);
        EXPECT_FALSE(a->DirManager()->Rebuilt);
        EXPECT_EQ(a->ArchiveStart(), 0x200 + 2998);
        ExpectIntact(*a);
        // Without the view the certificate table hides the end record.
        auto whole = OpenPackage(dir, bytes, false);
        EXPECT_TRUE(whole->DirManager()->Rebuilt);
    }
}

TEST(SignedView, UnsignedAndImplausibleTablesReadTheWholeFile) {
    ScratchDir dir;
    // Unsigned: as always.
    auto a = OpenPackage(dir, Package(true, false), true);
    EXPECT_FALSE(a->DirManager()->Rebuilt);
    ExpectIntact(*a);
    // A table that would run past the file's end, or start inside the headers, is not one.
    for (auto [offset, size] :
         {std::pair<std::uint64_t, std::uint64_t>{100, 8}, {5000, 1u << 30}}) {
        std::string bytes = Package(true, false);
        SetSecurityEntry(bytes, true, offset, size);
        auto b = OpenPackage(dir, bytes, true);
        EXPECT_FALSE(b->DirManager()->Rebuilt) << offset;
        ExpectIntact(*b);
    }
    // A ZIP archive that is no executable at all.
    Archive w;
    w.add("a.txt", "a");
    auto c = OpenPackage(dir, w.build(), true);
    EXPECT_EQ(Dir(*c).Count(), 1);
}

TEST(SignedView, FindsTheTableOfAnImage) {
    for (bool plus : {true, false}) {
        zip::TZAMemoryStream s;
        const std::string bytes = Package(plus, true);
        s.Data().assign(bytes.begin(), bytes.end());
        const auto table = zip::FindCertificateTable(s);
        ASSERT_TRUE(table.has_value());
        EXPECT_EQ(table->offset + table->size, static_cast<std::int64_t>(bytes.size()));
        EXPECT_EQ(table->size, 1304);
    }
}

} // namespace
} // namespace klv::test

// Archives whose records contradict each other: a central name that is not the local one,
// and items whose local records overlap (one local header named by many central records, or
// one item's data running into the next item's header).
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>

#include "platform/text.h"
#include "test_util.h"

using namespace klv::zip;
using klv::test::RawRecords;
namespace fs = std::filesystem;

namespace {

std::string Utf8(const std::u16string& s) {
    return klv::platform::Utf16ToUtf8(s);
}

class Lies : public ::testing::Test {
  protected:
    std::unique_ptr<TZipArchive> Open(const std::string& bytes, const std::string& name = "a.zip") {
        auto a = klv::test::OpenBytes(dir, name, bytes);
        a->BaseDir = klv::test::U16(out);
        a->OnProcessFileFailure = [&](TZABaseArchiver&, const std::u16string& n,
                                      TZAProcessOperation op, int native, int,
                                      const std::u16string&, TZAAction& action) {
            failures.push_back((op == TZAProcessOperation::poTest ? "test " : "extract ") +
                               Utf8(n) + " " + std::to_string(native));
            action = TZAAction::fxaIgnore;
        };
        return a;
    }
    // Extracts and tests every item; returns the failures of both runs.
    std::vector<std::string> Run(TZipArchive& a) {
        failures.clear();
        a.ExtractMatching();
        a.TestMatching();
        return failures;
    }
    std::string Read(const std::string& rel) { return klv::test::ReadBytes(out / rel); }
    std::vector<std::string> Tree() {
        std::vector<std::string> names;
        if (!fs::exists(out)) return names;
        for (auto& e : fs::recursive_directory_iterator(out))
            names.push_back(fs::relative(e.path(), out).generic_string() +
                            (e.is_directory() ? "/" : ""));
        std::sort(names.begin(), names.end());
        return names;
    }
    // Expects the open to refuse the archive, naming the two items.
    void ExpectRefused(const std::string& bytes, const std::string& first,
                       const std::string& second, const std::string& name = "a.zip") {
        try {
            Open(bytes, name);
            ADD_FAILURE() << name << " opened";
        } catch (const EZAException& e) {
            EXPECT_EQ(e.NativeError, neOverlappingItems);
            EXPECT_EQ(std::string(e.what()), "Archive is damaged: items \"" + first + "\" and \"" +
                                                 second + "\" overlap - Native error: 00080");
        }
    }

    klv::test::ScratchDir dir;
    fs::path out = dir / "out";
    std::vector<std::string> failures;
};

using Strings = std::vector<std::string>;

// Swaps the first two central records (the directory keeps its size and place).
std::string SwapFirstCentralRecords(RawRecords& w) {
    std::string bytes = w.build();
    const std::size_t a = w.layout.centralHeaders[0], b = w.layout.centralHeaders[1];
    const std::size_t end = w.layout.centralHeaders.size() > 2
                                ? w.layout.centralHeaders[2]
                                : w.layout.directory + w.layout.directorySize;
    bytes.replace(a, end - a, bytes.substr(b, end - b) + bytes.substr(a, b - a));
    return bytes;
}

TEST_F(Lies, CentralAndLocalNamesMustAgreeAsStoredBytes) {
    RawRecords w;
    w.add("kelvaro.exe", "the new program").central.name = "kelvaro.exd"; // one flipped bit
    w.add("readme.txt", "read me");
    w.add("other.txt", "other").local.name = "other.txu";
    w.add("longer.txt", "longer").local.name = "longer.txt2";
    fs::create_directories(out);
    klv::test::WriteBytes(out / "kelvaro.exe", "the old program");
    auto a = Open(w.build());
    EXPECT_EQ(Run(*a),
              (Strings{"extract kelvaro.exd 8", "extract other.txt 8", "extract longer.txt 8",
                       "test kelvaro.exd 8", "test other.txt 8", "test longer.txt 8"}));
    EXPECT_EQ(Tree(), (Strings{"kelvaro.exe", "readme.txt"}));
    EXPECT_EQ(Read("kelvaro.exe"), "the old program");
    // Not a damaged copy of the data that could be kept: the item is not what it says it is.
    a->ExtractCorruptedFiles = true;
    failures.clear();
    a->ExtractMatching(u"kelvaro.exd");
    EXPECT_EQ(failures, Strings{"extract kelvaro.exd 8"});
    EXPECT_FALSE(fs::exists(out / "kelvaro.exd"));
    TZAMemoryStream memory;
    klv::test::ExpectNative(neNotIntact, [&] { a->ExtractItemToStream(0, memory); });
}

TEST_F(Lies, NamesBeyondAsciiAndEncryptedItemsAreComparedToo) {
    RawRecords w;
    auto& utf8 = w.add("caf\xC3\xA9.txt", "utf-8 name"); // é, flagged UTF-8
    utf8.flags = 0x800;
    w.add("\x82t\x82.txt", "OEM name"); // été in code page 850
    auto& nu = w.add("plain.txt", "Unicode name block");
    nu.extra = klv::test::nuExtra(u"\u00fcn\u00efcode.txt");
    auto& bad = w.add("na\xC3\xAFve.txt", "differs in one byte");
    bad.flags = 0x800;
    bad.local.name = "na\xC3\xAEve.txt";
    auto& nuBad = w.add("plain2.txt", "local name differs behind the block");
    nuBad.extra = klv::test::nuExtra(u"\u00fcn\u00efcode2.txt");
    nuBad.local.name = "plain3.txt";
    const std::string secret = "encrypted item";
    auto& locked = w.add("locked.txt", secret);
    locked.flags = 1;
    locked.packed = klv::test::pkzipEncrypt(secret, "pw", klv::test::crc32Of(secret) >> 24);
    auto& lockedBad = w.add("locked2.txt", secret);
    lockedBad.flags = 1;
    lockedBad.packed = locked.packed;
    lockedBad.local.name = "locked3.txt";
    auto a = Open(w.build());
    a->SetPassword("pw");
    EXPECT_EQ(Run(*a), (Strings{"extract na\u00efve.txt 8", "extract \u00fcn\u00efcode2.txt 8",
                                "extract locked2.txt 8", "test na\u00efve.txt 8",
                                "test \u00fcn\u00efcode2.txt 8", "test locked2.txt 8"}));
    EXPECT_EQ(Tree(), (Strings{"caf\u00e9.txt", "locked.txt", "\u00e9t\u00e9.txt",
                               "\u00fcn\u00efcode.txt"}));
    EXPECT_EQ(Read("locked.txt"), secret);
}

TEST_F(Lies, ItemsSharingOneLocalHeaderAreRefusedAtOpen) {
    // The classic shape: one compressed kernel, many central records pointing at it.
    RawRecords w;
    const std::string kernel(1 << 20, '\0');
    w.add("k0.bin", kernel, 8);
    for (int i = 1; i < 20; ++i) {
        auto& e = w.add("k" + std::to_string(i) + ".bin", kernel, 8);
        e.writeLocal = false;
        e.central.localOffset = 0;
    }
    ExpectRefused(w.build(), "k0.bin", "k1.bin");
    // Listed in another order, and behind an executable whose offsets the engine shifts.
    ExpectRefused(SwapFirstCentralRecords(w), "k1.bin", "k0.bin", "swapped.zip");
    w.prefix = klv::test::FakeExecutable(3000);
    ExpectRefused(w.build(), "k0.bin", "k1.bin", "klvupgradeStub.exe");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Lies, DataRunningIntoTheNextLocalHeaderIsRefused) {
    // A stored item whose data "quotes" the next item's local record: CRC and sizes are right
    // for the bytes it covers, so a reader that trusts the directory writes both.
    RawRecords w;
    w.add("a.txt", "aaaa");
    w.add("b.txt", "bbbb");
    w.build();
    const std::string first = w.build();
    const std::size_t dataAt = w.layout.localHeaders[0] + 30 + 5;
    const std::string quoted = first.substr(dataAt, w.layout.localHeaders[1] + 30 + 5 + 4 - dataAt);
    w.entries[0].central.compressedSize = static_cast<std::uint32_t>(quoted.size());
    w.entries[0].central.uncompressedSize = static_cast<std::uint32_t>(quoted.size());
    w.entries[0].central.crc = klv::test::crc32Of(quoted);
    ExpectRefused(w.build(), "a.txt", "b.txt");

    // Only the local header tells: its extra field moves the data past the next header. The
    // item fails when it is read; the next one is fine.
    RawRecords x;
    x.add("a.txt", "aaaa").local.extraLength = 40;
    x.add("b.txt", "bbbb");
    auto a = Open(x.build(), "extra.zip");
    EXPECT_EQ(Run(*a), (Strings{"extract a.txt 8", "test a.txt 8"}));
    EXPECT_EQ(Tree(), Strings{"b.txt"});
}

TEST_F(Lies, HonestArchivesInAnyOrderStillOpenAndExtract) {
    // Behind an executable (relative offsets, folder entries left unshifted), an empty file,
    // a data descriptor, a Zip64 item, the directory not in file order.
    RawRecords w;
    w.prefix = klv::test::FakeExecutable(70000);
    w.add("z.txt", std::string(70000, 'z'), 8);
    w.add("last.txt", "last");
    w.addDir("data/");
    w.add("data/empty.txt");
    w.add("data/dd.txt", std::string(5000, 'd'), 8).descriptor = true;
    w.add("data/big.txt", std::string(3000, 'b')).zip64 = klv::test::Z64USize | klv::test::Z64CSize;
    // (An archive behind an executable is found where its first listed item's header is: the
    // directory in another order is tried without one.)
    auto extractsWhole = [&](TZipArchive& a) {
        fs::remove_all(out);
        EXPECT_EQ(Run(a), Strings{});
        EXPECT_EQ(Tree(), (Strings{"data/", "data/big.txt", "data/dd.txt", "data/empty.txt",
                                   "last.txt", "z.txt"}));
        EXPECT_TRUE(Read("z.txt") == std::string(70000, 'z'));
        EXPECT_TRUE(Read("data/dd.txt") == std::string(5000, 'd'));
    };
    extractsWhole(*Open(w.build(), "setup.exe"));
    w.prefix.clear();
    extractsWhole(*Open(SwapFirstCentralRecords(w), "swapped.zip"));
}

TEST_F(Lies, RebuiltDirectoriesTakeSignaturesInsideDataAsData) {
    // A stored archive inside an archive whose directory is gone: two items, not four.
    RawRecords inner;
    inner.add("i1.txt", "inner one");
    inner.add("i2.txt", "inner two");
    const std::string nested = inner.build();
    RawRecords w;
    w.add("inner.zip", nested);
    w.add("after.txt", "after");
    w.writeDirectory = false;
    auto a = Open(w.build());
    EXPECT_TRUE(a->DirManager()->Rebuilt);
    ASSERT_EQ(klv::test::Dir(*a).Count(), 2);
    EXPECT_EQ(Run(*a), Strings{});
    EXPECT_EQ(Read("inner.zip"), nested);
    EXPECT_EQ(Read("after.txt"), "after");
}

TEST_F(Lies, Zip64DirectorySizesBeyondTheFileAreDamage) {
    // Sizes that no signed file position holds: the directory is damaged, and rebuilt.
    for (const std::uint64_t size : {std::uint64_t{1} << 63, ~std::uint64_t{0}}) {
        RawRecords w;
        w.add("a.txt", "aaa");
        w.zip64End = true;
        w.zip64.directorySize = size;
        auto a = Open(w.build());
        EXPECT_TRUE(a->DirManager()->Rebuilt);
        EXPECT_EQ(Run(*a), Strings{});
        EXPECT_EQ(Read("a.txt"), "aaa");
    }
}

#ifdef _WIN32
// Under Wine there is no fork and no address-space limit: the body runs here, unbounded (the
// bound itself is held by the native builds).
template <class F> bool InBoundedChild(std::uint64_t, F&& body) {
    try {
        return body();
    } catch (...) {
        return false;
    }
}
#else
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCanLimitAddressSpace = false;
#else
constexpr bool kCanLimitAddressSpace = true;
#endif

// The address space this process has mapped, in bytes.
std::uint64_t MappedBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// Runs `body` in a child process allowed `extra` bytes of address space beyond what it has
// mapped (no limit under AddressSanitizer, whose shadow memory defies one); true when the body
// returned true there, false when it failed, ran out of memory or the child died.
template <class F> bool InBoundedChild(std::uint64_t extra, F&& body) {
    const pid_t child = fork();
    if (child == 0) {
        int code = 2;
        try {
            if (kCanLimitAddressSpace) {
                const rlimit limit{MappedBytes() + extra, MappedBytes() + extra};
                setrlimit(RLIMIT_AS, &limit);
            }
            code = body() ? 0 : 1;
        } catch (const std::bad_alloc&) {
            code = 3;
        } catch (...) {
            code = 4;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

TEST_F(Lies, RebuiltDirectoriesKeepNoMoreThanTheFileHolds) {
    // 2.6 MB of local headers, one every 30 bytes, each announcing a name of 65,535 bytes
    // (read as claimed, 5.7 GB of names), and no end record.
    RawRecords w;
    for (int i = 0; i < 87000; ++i)
        w.add("").local.nameLength = 0xFFFF;
    w.writeDirectory = false;
    const std::string hostile = w.build().substr(0, w.layout.end);
    klv::test::WriteBytes(dir / "hostile.zip", hostile);
    // Opening it is refused as damaged within a small multiple of its size.
    EXPECT_TRUE(InBoundedChild(16 * hostile.size(), [&] {
        try {
            TZipArchive a;
            a.FileName = klv::test::U16(dir / "hostile.zip");
            a.Open(kOpenModeShareRead);
        } catch (const EZAException& e) {
            return e.NativeError == neArchiveDamaged;
        }
        return false;
    }));

    // Behind a sound item, a header whose name runs into the next header or past the file
    // is no item; the sound ones around it stay.
    RawRecords m;
    m.add("one.txt", "one");
    m.add("").local.nameLength = 40;
    m.add("two.txt", "two");
    m.add("").local.nameLength = 0xFFFF;
    m.writeDirectory = false;
    auto a = Open(m.build().substr(0, m.layout.end));
    EXPECT_TRUE(a->DirManager()->Rebuilt);
    ASSERT_EQ(klv::test::Dir(*a).Count(), 2);
    EXPECT_EQ(Run(*a), Strings{});
    EXPECT_EQ(Read("one.txt"), "one");
    EXPECT_EQ(Read("two.txt"), "two");
}

} // namespace

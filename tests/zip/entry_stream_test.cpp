// The entry stream on its own: one result for each way an entry's data can fail, the password
// and progress asked through its events, and checked bytes only into the output.
#include "test_util.h"
#include "zip/entry_stream.h"

using namespace klv::zip;
using klv::test::RawRecords;

namespace {

class Events final : public TZAEntryEvents {
  public:
    bool Progress(std::int64_t produced, std::int64_t total) override {
        last = produced;
        this->total = total;
        return produced < stopAt;
    }
    bool AskPassword(const std::u16string&, std::string& password) override {
        ++asked;
        if (answers.empty()) return false;
        password = answers.front();
        answers.erase(answers.begin());
        return true;
    }
    TZAStream* NextVolume() override { return nullptr; }

    std::int64_t last = -1, total = 0, stopAt = INT64_MAX;
    int asked = 0;
    std::vector<std::string> answers;
};

class EntryStream : public ::testing::Test {
  protected:
    // Reads item `index` of the open archive into `out`.
    TZAEntryResult Read(TZipArchive& a, std::int32_t index, std::string password = {}) {
        const TDirItem& item = klv::test::Dir(a).Item(index);
        TZAStream& in = *a.ArchiveStream();
        in.Seek(item.LocalHeaderOffset());
        const TZAEntryBounds bounds{a.DirManager()->NextLocalHeader(index),
                                    a.DirManager()->DirectoryPosition, false};
        memory = TZAMemoryStream();
        TZAStreamOutput output(memory);
        return TZAEntryStream(in, item, *a.DirManager(), bounds, std::move(password), events,
                              buffers)
            .CopyTo(output);
    }
    std::string Bytes() { return std::string(memory.Data().begin(), memory.Data().end()); }

    klv::test::ScratchDir dir;
    Events events;
    TZAEntryBuffers buffers;
    TZAMemoryStream memory;
};

TEST_F(EntryStream, OneResultForEachFailure) {
    const std::string text(300000, 't');
    RawRecords w;
    w.add("good.txt", text, 8);
    w.add("crc.txt", "crc").central.crc = 1;
    w.add("name.txt", "name").local.name = "nome.txt";
    w.add("d64.bin", "d64", 9);
    w.add("method.bin", "m", 12);
    auto& longer = w.add("longer.txt", std::string(5000, 'l'), 8);
    longer.central.uncompressedSize = 100;
    auto a = klv::test::OpenBytes(dir, "a.zip", w.build());
    EXPECT_EQ(Read(*a, 0), TZAEntryResult::Intact);
    EXPECT_TRUE(Bytes() == text);
    EXPECT_EQ(events.total, 300000);
    EXPECT_EQ(Read(*a, 1), TZAEntryResult::Damaged);
    EXPECT_EQ(Read(*a, 2), TZAEntryResult::Misdescribed);
    EXPECT_TRUE(Bytes().empty()); // nothing read past a header that names another file
    EXPECT_EQ(Read(*a, 3), TZAEntryResult::Deflate64);
    EXPECT_EQ(Read(*a, 4), TZAEntryResult::Damaged);
    EXPECT_EQ(Read(*a, 5), TZAEntryResult::Damaged);
    EXPECT_EQ(Bytes().size(), 100u); // never more than declared

    events.stopAt = 0;
    EXPECT_EQ(Read(*a, 0), TZAEntryResult::Cancelled);
}

TEST_F(EntryStream, PasswordsAreAskedUntilOneOpensTheEntry) {
    const std::string secret = "encrypted entry";
    RawRecords w;
    auto& e = w.add("locked.txt", secret);
    e.flags = 1;
    e.packed = klv::test::pkzipEncrypt(secret, "pw", klv::test::crc32Of(secret) >> 24);
    auto a = klv::test::OpenBytes(dir, "locked.zip", w.build());
    EXPECT_EQ(Read(*a, 0, "nope"), TZAEntryResult::Skipped);
    EXPECT_EQ(events.asked, 1);
    events.answers = {"wrong", "pw"};
    EXPECT_EQ(Read(*a, 0, "nope"), TZAEntryResult::Intact);
    EXPECT_EQ(Bytes(), secret);
    EXPECT_EQ(events.asked, 3);
}

} // namespace

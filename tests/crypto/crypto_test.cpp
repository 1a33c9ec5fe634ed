// Decryption: the primitives against published vectors, then the ZIP framing against archives
// made by 7-Zip and Info-ZIP zip (tests/crypto/data, password "secret").
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures/zip_values.h"
#include "zip/archiver.h"
#include "zip/crypto.h"
#include "zip/directory.h"

using namespace klv::zip;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

Bytes FromText(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

std::string ToText(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

std::filesystem::path DataDir() {
    std::string root = KLV_CRYPTO_SOURCE_DIR;
    if (const char* env = std::getenv("KLV_SOURCE_DIR")) root = std::string(env) + "/tests/crypto";
#ifdef _WIN32
    if (!root.empty() && root[0] == '/') root = "Z:" + root; // a Unix path, as Wine maps it
#endif
    return std::filesystem::path(root) / "data";
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    EXPECT_TRUE(f) << "cannot read " << p;
    return std::string(std::istreambuf_iterator<char>(f), {});
}

std::string RawInflate(const Bytes& packed) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
    std::string out(1 << 20, '\0');
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_FINISH);
    EXPECT_EQ(rc, Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// The one item of a fixture archive as the engine's directory sees it, with the fields of its
// local header that decryption needs and the bytes behind that header.
struct EncryptedItem {
    TZACryptoAlgorithm algorithm;
    std::uint16_t method; // the real method (from the AES block for AES items)
    std::uint16_t localFlags, localTime;
    std::uint32_t localCrc;
    std::uint32_t centralCrc;
    Bytes stored; // compressed size bytes: header, data, code
};

EncryptedItem LoadItem(const std::string& name) {
    TZipArchive a;
    a.FileName = (DataDir() / name).u16string();
    a.Open(kOpenModeShareRead);
    const auto& dir = a.DirManager()->Directory;
    EXPECT_EQ(dir.Count(), 1);
    const TDirItem& item = dir.Item(0);
    EXPECT_TRUE(item.Encrypted());

    std::string file = ReadFile(DataDir() / name);
    auto at = static_cast<std::size_t>(item.LocalHeaderOffset());
    auto u8 = [&](std::size_t i) { return static_cast<std::uint8_t>(file.at(at + i)); };
    auto u16 = [&](std::size_t i) { return static_cast<std::uint16_t>(u8(i) | u8(i + 1) << 8); };
    auto u32 = [&](std::size_t i) {
        return std::uint32_t(u16(i)) | std::uint32_t(u16(i + 2)) << 16;
    };

    EncryptedItem e;
    e.algorithm = item.CryptoAlgorithm;
    e.method = item.ActualMethod;
    e.localFlags = u16(6);
    e.localTime = u16(10);
    e.localCrc = u32(14);
    e.centralCrc = item.Header.Crc32();
    std::size_t data = at + 30 + u16(26) + u16(28);
    auto size = static_cast<std::size_t>(item.CompressedSize());
    e.stored.assign(file.begin() + data, file.begin() + data + size);
    return e;
}

std::string Plain() {
    return ReadFile(DataDir() / "plain.txt");
}

// Decrypts `data` in pieces of the given sizes (the last repeated until the end).
void DecryptInPieces(TZACryptoTransform& t, Bytes& data, std::vector<std::size_t> pieces) {
    std::size_t at = 0, i = 0;
    while (at < data.size()) {
        std::size_t n = std::min(pieces[std::min(i++, pieces.size() - 1)], data.size() - at);
        t.Decrypt(data.data() + at, n);
        at += n;
    }
}

} // namespace

// ---- primitives -------------------------------------------------------------------------

TEST(Primitives, Pbkdf2HmacSha1MatchesRfc6070) {
    struct Case {
        std::string password, salt;
        unsigned long iterations;
        const char* derived;
    };
    const Case cases[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
         "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Case& c : cases) {
        Bytes want = FromHex(c.derived);
        Bytes got(want.size());
        Pbkdf2HmacSha1(FromText(c.password), FromText(c.salt), c.iterations, got);
        EXPECT_EQ(got, want) << c.password << " / " << c.iterations;
    }
}

TEST(Primitives, AesBlockCipherMatchesFips197AppendixC) {
    const Bytes plain = FromHex("00112233445566778899aabbccddeeff");
    struct Case {
        std::size_t keyLength;
        const char* cipher;
    };
    const Case cases[] = {{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
                          {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
                          {32, "8ea2b7ca516745bfeafc49904b496089"}};
    for (const Case& c : cases) {
        Bytes key(c.keyLength);
        for (std::size_t i = 0; i < key.size(); ++i)
            key[i] = static_cast<std::uint8_t>(i);
        TZAAesBlockCipher aes(key);
        Bytes out(16);
        aes.EncryptBlocks(plain.data(), out.data(), 16);
        EXPECT_EQ(out, FromHex(c.cipher)) << c.keyLength * 8 << " bits";

        // In place and several blocks at once: each block on its own (no chaining).
        Bytes twice = plain;
        twice.insert(twice.end(), plain.begin(), plain.end());
        aes.EncryptBlocks(twice.data(), twice.data(), twice.size());
        EXPECT_EQ(Bytes(twice.begin(), twice.begin() + 16), out);
        EXPECT_EQ(Bytes(twice.begin() + 16, twice.end()), out);
    }
    EXPECT_THROW(TZAAesBlockCipher(Bytes(20)), std::invalid_argument);
}

TEST(Primitives, HmacSha1MatchesRfc2202AcrossWrites) {
    TZAHmacSha1 one(Bytes(20, 0x0b));
    one.Update(FromText("Hi There").data(), 8);
    auto d1 = one.Final();
    EXPECT_EQ(Bytes(d1.begin(), d1.end()), FromHex("b617318655057264e28bc0b6fb378c8ef146be00"));

    TZAHmacSha1 two(FromText("Jefe"));
    Bytes msg = FromText("what do ya want for nothing?");
    two.Update(msg.data(), 5);
    two.Update(msg.data() + 5, 0);
    two.Update(msg.data() + 5, msg.size() - 5);
    auto d2 = two.Final();
    EXPECT_EQ(Bytes(d2.begin(), d2.end()), FromHex("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"));
    EXPECT_EQ(two.Final(), d2); // asking again gives the same digest
}

// ---- WinZip AES on the archives of 7-Zip (AE-2) and bsdtar (AE-1) ------------------------

struct AesFixture {
    const char* file;
    TZACryptoAlgorithm algorithm;
    std::size_t headerLength;
};

class AesArchive : public ::testing::TestWithParam<AesFixture> {};

TEST_P(AesArchive, DecryptsAndAuthenticatesInAnyChunking) {
    const AesFixture& f = GetParam();
    EncryptedItem item = LoadItem(f.file);
    ASSERT_EQ(item.algorithm, f.algorithm);
    ASSERT_EQ(CryptoHeaderLength(item.algorithm), f.headerLength);
    const std::string plain = Plain();

    // Split into salt + verifier, data, code and decrypt as the engine reads chunks: several
    // chunkings, so the key stream must carry over within and across its blocks.
    for (std::vector<std::size_t> pieces :
         {std::vector<std::size_t>{1 << 20}, {1, 15, 17, 3, 1024, 1025}, {7}}) {
        TAESCryptoTransform t(item.algorithm, "secret");
        ASSERT_EQ(t.HeaderLength(), f.headerLength);
        ASSERT_GE(item.stored.size(), t.HeaderLength());
        const std::size_t check = t.CheckHeaderLength();
        const std::size_t dataLength = item.stored.size() - t.HeaderLength();
        ASSERT_TRUE(t.CheckPassword({item.stored.data(), check}));
        Bytes data(item.stored.begin() + check, item.stored.begin() + check + dataLength);
        Bytes code(item.stored.end() - 10, item.stored.end());
        DecryptInPieces(t, data, pieces);
        if (item.method == 8)
            EXPECT_EQ(RawInflate(data), plain);
        else
            EXPECT_EQ(ToText(data), plain);
        EXPECT_TRUE(t.Authenticate(code)) << pieces.size() << " piece sizes";
    }
}

TEST_P(AesArchive, WrongPasswordAndDamageAreCaught) {
    EncryptedItem item = LoadItem(GetParam().file);
    TAESCryptoTransform t(item.algorithm, "Secret");
    const std::size_t check = t.CheckHeaderLength();
    std::span<const std::uint8_t> header(item.stored.data(), check);
    EXPECT_FALSE(t.CheckPassword(header));
    EXPECT_FALSE(TAESCryptoTransform(item.algorithm, "").CheckPassword(header));
    EXPECT_FALSE(t.Authenticate(Bytes(10))); // nothing decrypted under a good check
    EXPECT_THROW(t.Decrypt(item.stored.data(), 1), std::logic_error);

    // A new password for the same item: keys derived again with the salt already read.
    EXPECT_TRUE(t.HasPassword("Secret"));
    t.SetPassword("secret");
    EXPECT_TRUE(t.HasPassword("secret"));
    EXPECT_TRUE(t.CheckPassword(header));

    const std::size_t dataLength = item.stored.size() - t.HeaderLength();
    Bytes data(item.stored.begin() + check, item.stored.begin() + check + dataLength);
    Bytes code(item.stored.end() - 10, item.stored.end());

    // One changed byte of the stored data: the code covers the data as stored.
    Bytes damaged = data;
    damaged[damaged.size() / 2] ^= 0x01;
    t.Decrypt(damaged.data(), damaged.size());
    EXPECT_FALSE(t.Authenticate(code));

    // One changed byte of the code; a short code.
    ASSERT_TRUE(t.CheckPassword(header)); // starts the data afresh
    Bytes clean = data;
    t.Decrypt(clean.data(), clean.size());
    Bytes badCode = code;
    badCode[9] ^= 0x80;
    EXPECT_FALSE(t.Authenticate(badCode));
    EXPECT_FALSE(t.Authenticate(std::span(code).first(9)));

    // Counter mode: the damaged byte, and only it, differs after decryption.
    std::size_t differ = 0;
    for (std::size_t i = 0; i < clean.size(); ++i)
        differ += clean[i] != damaged[i];
    EXPECT_EQ(differ, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, AesArchive,
    ::testing::Values(AesFixture{"aes128.zip", TZACryptoAlgorithm::caAES_128, 20},
                      AesFixture{"aes192.zip", TZACryptoAlgorithm::caAES_192, 24},
                      AesFixture{"aes256.zip", TZACryptoAlgorithm::caAES_256, 28},
                      AesFixture{"aes256-deflated.zip", TZACryptoAlgorithm::caAES_256, 28},
                      AesFixture{"aes256-ae1.zip", TZACryptoAlgorithm::caAES_256, 28}),
    [](const auto& info) {
        std::string n = info.param.file;
        n = n.substr(0, n.find('.'));
        std::erase(n, '-');
        return n;
    });

TEST(AesTransform, RejectsTheTraditionalAlgorithm) {
    EXPECT_THROW(TAESCryptoTransform(TZACryptoAlgorithm::caPkzipClassic, "x"),
                 std::invalid_argument);
    EXPECT_EQ(CryptoHeaderLength(TZACryptoAlgorithm::caPkzipClassic), 12u);
}

// ---- traditional PKWARE on Info-ZIP's and 7-Zip's archives ---------------------------------

struct PkzipFixture {
    const char* file;
    bool dataDescriptor; // flag bit 3: the check byte comes from the time
};

class PkzipArchive : public ::testing::TestWithParam<PkzipFixture> {};

TEST_P(PkzipArchive, ChecksAgainstTheRightByteAndDecrypts) {
    const PkzipFixture& f = GetParam();
    EncryptedItem item = LoadItem(f.file);
    ASSERT_EQ(item.algorithm, TZACryptoAlgorithm::caPkzipClassic);
    ASSERT_EQ((item.localFlags & 0x0008) != 0, f.dataDescriptor);
    const std::uint8_t timeByte = static_cast<std::uint8_t>(item.localTime >> 8);
    const std::uint8_t crcByte = static_cast<std::uint8_t>(item.centralCrc >> 24);
    ASSERT_NE(timeByte, crcByte) << "the fixture cannot tell the two apart";

    const std::uint8_t checkByte = PkzipCheckByte(item.localFlags, item.localTime, item.localCrc);
    EXPECT_EQ(checkByte, f.dataDescriptor ? timeByte : crcByte);

    std::span<const std::uint8_t> header(item.stored.data(), 12);
    // The other byte is a bad check for the right password.
    EXPECT_FALSE(TPkzipCryptoTransform("secret", f.dataDescriptor ? crcByte : timeByte)
                     .CheckPassword(header));

    for (std::vector<std::size_t> pieces : {std::vector<std::size_t>{1 << 20}, {1, 2, 333}}) {
        TPkzipCryptoTransform t("secret", checkByte);
        EXPECT_EQ(t.HeaderLength(), 12u);
        ASSERT_TRUE(t.CheckPassword(header));
        Bytes data(item.stored.begin() + 12, item.stored.end());
        DecryptInPieces(t, data, pieces);
        std::string out = item.method == 8 ? RawInflate(data) : ToText(data);
        EXPECT_EQ(out, Plain());
        EXPECT_EQ(klv::test::crc32Of(out), item.centralCrc);
        EXPECT_TRUE(t.Authenticate({})); // nothing to authenticate: the CRC decides
    }
}

TEST_P(PkzipArchive, WrongOrEmptyPasswordIsABadCheckUntilChanged) {
    EncryptedItem item = LoadItem(GetParam().file);
    std::span<const std::uint8_t> header(item.stored.data(), 12);
    const std::uint8_t checkByte = PkzipCheckByte(item.localFlags, item.localTime, item.localCrc);
    TPkzipCryptoTransform t("", checkByte);
    EXPECT_FALSE(t.CheckPassword(header));
    t.SetPassword("geheim");
    EXPECT_FALSE(t.CheckPassword(header));
    t.SetPassword("secret");
    EXPECT_TRUE(t.CheckPassword(header));
    EXPECT_FALSE(t.CheckPassword(std::span(header).first(11)));
}

INSTANTIATE_TEST_SUITE_P(Tools, PkzipArchive,
                         ::testing::Values(PkzipFixture{"zipcrypto-7zz.zip", false},
                                           PkzipFixture{"zipcrypto-stored.zip", true},
                                           PkzipFixture{"zipcrypto-deflated.zip", true},
                                           PkzipFixture{"zipcrypto-stdin.zip", true}),
                         [](const auto& info) {
                             std::string n = info.param.file;
                             n = n.substr(10, n.find('.') - 10);
                             return n;
                         });

TEST(PkzipTransform, PasswordBytesAboveAsciiAreKeyMaterialAsTheyAre) {
    // Info-ZIP zip given a code page 1252 password as raw bytes; a char sign-extended into the
    // key update would fail the check or the data.
    EncryptedItem item = LoadItem("zipcrypto-1252.zip");
    const std::string password = "ge\xEFnstalleerd\xFF";
    TPkzipCryptoTransform t(password,
                            PkzipCheckByte(item.localFlags, item.localTime, item.localCrc));
    ASSERT_TRUE(t.CheckPassword({item.stored.data(), 12}));
    Bytes data(item.stored.begin() + 12, item.stored.end());
    t.Decrypt(data.data(), data.size());
    EXPECT_EQ(ToText(data), Plain());
}

TEST(PkzipTransform, AnEmptyPasswordIsBadEvenWhenTheHeaderWouldMatch) {
    // Header and one byte "x" encrypted with the empty password, check byte 0x42 (no tool
    // writes such an item; the bytes decrypt correctly with Python's zipfile and pwd=b"").
    Bytes stored = FromHex("f16c59903110aa33a94a45dec1");
    TPkzipCryptoTransform t("", 0x42);
    EXPECT_FALSE(t.CheckPassword({stored.data(), 12}));
}

TEST(MakeCryptoTransform, GivesTheTransformOfTheAlgorithm) {
    auto pk = MakeCryptoTransform(TZACryptoAlgorithm::caPkzipClassic, "p", 0);
    EXPECT_NE(dynamic_cast<TPkzipCryptoTransform*>(pk.get()), nullptr);
    auto aes = MakeCryptoTransform(TZACryptoAlgorithm::caAES_192, "p", 0);
    auto* a = dynamic_cast<TAESCryptoTransform*>(aes.get());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->KeyLength(), 24u);
    EXPECT_EQ(a->SaltLength(), 12u);
    EXPECT_EQ(a->VendorVersion(), 2);
    EXPECT_EQ(a->AuthCodeLength(), 10u);
}

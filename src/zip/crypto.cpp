#include "zip/crypto.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace klv::zip {

namespace {

// The CRC-32 table of the ZIP format (reflected polynomial 0xEDB88320), made at compile time.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

inline std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t b) {
    return kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

std::span<const std::uint8_t> Bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    if (a.size() != b.size()) return false;
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

// Counter blocks encrypted at a time for the AES key stream.
constexpr std::size_t kKeyStreamBlocks = 64;

} // namespace

// ---- secure buffers ---------------------------------------------------------------------

void SecureWipe(void* bytes, std::size_t n) {
    volatile std::uint8_t* p = static_cast<volatile std::uint8_t*>(bytes);
    while (n--)
        *p++ = 0;
}

TZASecureBytes::TZASecureBytes(std::size_t size)
    : data_(size ? new std::uint8_t[size]() : nullptr), size_(size) {}

TZASecureBytes::TZASecureBytes(std::span<const std::uint8_t> bytes) : TZASecureBytes(bytes.size()) {
    if (!bytes.empty()) std::memcpy(data_.get(), bytes.data(), bytes.size());
}

TZASecureBytes::TZASecureBytes(TZASecureBytes&& other) noexcept
    : data_(std::move(other.data_)), size_(other.size_) {
    other.size_ = 0;
}

TZASecureBytes& TZASecureBytes::operator=(TZASecureBytes&& other) noexcept {
    if (this != &other) {
        clear();
        data_ = std::move(other.data_);
        size_ = other.size_;
        other.size_ = 0;
    }
    return *this;
}

TZASecureBytes::~TZASecureBytes() {
    clear();
}

void TZASecureBytes::clear() {
    if (data_) SecureWipe(data_.get(), size_);
    data_.reset();
    size_ = 0;
}

// ---- framing ------------------------------------------------------------------------------

std::size_t AesKeyLength(TZACryptoAlgorithm algorithm) {
    switch (algorithm) {
    case TZACryptoAlgorithm::caAES_128:
        return 16;
    case TZACryptoAlgorithm::caAES_192:
        return 24;
    case TZACryptoAlgorithm::caAES_256:
        return 32;
    case TZACryptoAlgorithm::caPkzipClassic:
        break;
    }
    return 0;
}

std::size_t CryptoHeaderLength(TZACryptoAlgorithm algorithm) {
    std::size_t keyLength = AesKeyLength(algorithm);
    if (keyLength == 0) return kPkzipHeaderLength;
    return keyLength / 2 + kAesVerifierLength + kAesAuthCodeLength;
}

std::uint8_t PkzipCheckByte(std::uint16_t localFlags, std::uint16_t localTime,
                            std::uint32_t localCrc32) {
    if (localFlags & 0x0008) return static_cast<std::uint8_t>(localTime >> 8);
    return static_cast<std::uint8_t>(localCrc32 >> 24);
}

std::unique_ptr<TZACryptoTransform> MakeCryptoTransform(TZACryptoAlgorithm algorithm,
                                                        std::string_view password,
                                                        std::uint8_t checkByte) {
    if (algorithm == TZACryptoAlgorithm::caPkzipClassic)
        return std::make_unique<TPkzipCryptoTransform>(password, checkByte);
    return std::make_unique<TAESCryptoTransform>(algorithm, password);
}

// ---- traditional PKWARE -------------------------------------------------------------------

TPkzipCryptoTransform::TPkzipCryptoTransform(std::string_view password, std::uint8_t checkByte)
    : password_(Bytes(password)), checkByte_(checkByte) {}

void TPkzipCryptoTransform::SetPassword(std::string_view password) {
    password_ = TZASecureBytes(Bytes(password));
}

bool TPkzipCryptoTransform::HasPassword(std::string_view password) const {
    return SameBytes(password_.span(), Bytes(password));
}

void TPkzipCryptoTransform::ResetKeys() {
    keys_ = {0x12345678u, 0x23456789u, 0x34567890u};
}

bool TPkzipCryptoTransform::CheckPassword(std::span<const std::uint8_t> header) {
    if (password_.empty() || header.size() != kPkzipHeaderLength) return false;
    ResetKeys();
    // Feeding a byte through the cipher is the same key update as decrypting it.
    auto update = [this](std::uint8_t p) {
        keys_.k0 = CrcStep(keys_.k0, p);
        keys_.k1 = (keys_.k1 + (keys_.k0 & 0xFF)) * 134775813u + 1;
        keys_.k2 = CrcStep(keys_.k2, static_cast<std::uint8_t>(keys_.k1 >> 24));
    };
    for (std::uint8_t b : password_.span())
        update(b);
    std::array<std::uint8_t, kPkzipHeaderLength> plain;
    std::copy(header.begin(), header.end(), plain.begin());
    Decrypt(plain.data(), plain.size());
    bool good = plain.back() == checkByte_;
    SecureWipe(plain.data(), plain.size());
    return good;
}

void TPkzipCryptoTransform::Decrypt(std::uint8_t* data, std::size_t n) {
    Keys k = keys_;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t t = (k.k2 | 2) & 0xFFFF; // unsigned: the product needs 32 bits
        std::uint8_t p =
            static_cast<std::uint8_t>(data[i] ^ static_cast<std::uint8_t>((t * (t ^ 1)) >> 8));
        data[i] = p;
        k.k0 = CrcStep(k.k0, p);
        k.k1 = (k.k1 + (k.k0 & 0xFF)) * 134775813u + 1;
        k.k2 = CrcStep(k.k2, static_cast<std::uint8_t>(k.k1 >> 24));
    }
    keys_ = k;
    SecureWipe(&k, sizeof k);
}

// ---- WinZip AES ---------------------------------------------------------------------------

TAESCryptoTransform::TAESCryptoTransform(TZACryptoAlgorithm algorithm, std::string_view password)
    : keyLength_(AesKeyLength(algorithm)), password_(Bytes(password)) {
    if (keyLength_ == 0) throw std::invalid_argument("not an AES algorithm");
}

TAESCryptoTransform::~TAESCryptoTransform() = default;

bool TAESCryptoTransform::HasPassword(std::string_view password) const {
    return SameBytes(password_.span(), Bytes(password));
}

void TAESCryptoTransform::SetPassword(std::string_view password) {
    password_ = TZASecureBytes(Bytes(password));
    ready_ = false;
    if (!salt_.empty()) DeriveKeys();
}

void TAESCryptoTransform::DeriveKeys() {
    cipher_.reset();
    hmac_.reset();
    derived_ = TZASecureBytes(2 * keyLength_ + kAesVerifierLength);
    Pbkdf2HmacSha1(password_.span(), salt_.span(), kAesKdfIterations, derived_.span());
}

bool TAESCryptoTransform::CheckPassword(std::span<const std::uint8_t> header) {
    ready_ = false;
    if (header.size() != CheckHeaderLength()) return false;
    auto salt = header.first(SaltLength());
    auto storedVerifier = header.subspan(SaltLength(), kAesVerifierLength);
    if (derived_.empty() || !SameBytes(salt, salt_.span())) {
        salt_ = TZASecureBytes(salt);
        DeriveKeys();
    }
    auto verifier = derived_.span().subspan(2 * keyLength_, kAesVerifierLength);
    if (!SameBytes(verifier, storedVerifier)) return false;

    cipher_ = std::make_unique<TZAAesBlockCipher>(derived_.span().first(keyLength_));
    hmac_ = std::make_unique<TZAHmacSha1>(derived_.span().subspan(keyLength_, keyLength_));
    counter_ = 0;
    if (keyStream_.empty())
        keyStream_ = TZASecureBytes(kKeyStreamBlocks * TZAAesBlockCipher::kBlockSize);
    keyStreamPos_ = keyStream_.size();
    ready_ = true;
    return true;
}

void TAESCryptoTransform::NextKeyStream() {
    // Counter blocks: the count, little-endian, in the first 8 bytes; the rest stays zero.
    std::uint8_t* block = keyStream_.data();
    for (std::size_t b = 0; b < kKeyStreamBlocks; ++b, block += TZAAesBlockCipher::kBlockSize) {
        std::uint64_t c = ++counter_;
        for (int i = 0; i < 8; ++i, c >>= 8)
            block[i] = static_cast<std::uint8_t>(c);
        std::memset(block + 8, 0, 8);
    }
    cipher_->EncryptBlocks(keyStream_.data(), keyStream_.data(), keyStream_.size());
    keyStreamPos_ = 0;
}

void TAESCryptoTransform::Decrypt(std::uint8_t* data, std::size_t n) {
    if (!ready_) throw std::logic_error("AES data before a good password check");
    hmac_->Update(data, n); // the code covers the data as stored
    while (n > 0) {
        if (keyStreamPos_ == keyStream_.size()) NextKeyStream();
        std::size_t run = std::min(n, keyStream_.size() - keyStreamPos_);
        const std::uint8_t* ks = keyStream_.data() + keyStreamPos_;
        for (std::size_t i = 0; i < run; ++i)
            data[i] ^= ks[i];
        data += run;
        n -= run;
        keyStreamPos_ += run;
    }
}

bool TAESCryptoTransform::Authenticate(std::span<const std::uint8_t> storedCode) {
    if (!ready_ || storedCode.size() != kAesAuthCodeLength) return false;
    auto digest = hmac_->Final();
    bool good =
        SameBytes(std::span<const std::uint8_t>(digest).first(kAesAuthCodeLength), storedCode);
    SecureWipe(digest.data(), digest.size());
    return good;
}

} // namespace klv::zip

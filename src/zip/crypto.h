// Decryption of encrypted items: the traditional PKWARE cipher and WinZip AES (AE-1/AE-2).
//
// A transform is made per item with the password to try. The caller reads the encryption
// header at the start of the item's data (CheckHeaderLength() bytes) and hands it to
// CheckPassword; on a bad check it may change the password with SetPassword and check the
// same header again. After a good check every chunk of the data is decrypted in place, in
// order; for AES the stored authentication code that follows the data is then checked with
// Authenticate.
//
// AES, HMAC-SHA1 and PBKDF2 come from the system's own cryptography in the Windows build
// (CNG, crypto_cng.cpp) and from libgcrypt elsewhere (crypto_gcrypt.cpp): the primitives below
// are the one place the two differ. Every key buffer is wiped when released.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "zip/types.h"

namespace klv::zip {

// A fixed-size heap buffer for key material and passwords: it never reallocates, and its
// bytes are overwritten with zeros before the memory is released.
class TZASecureBytes {
  public:
    TZASecureBytes() = default;
    explicit TZASecureBytes(std::size_t size);
    explicit TZASecureBytes(std::span<const std::uint8_t> bytes);
    TZASecureBytes(const TZASecureBytes&) = delete;
    TZASecureBytes& operator=(const TZASecureBytes&) = delete;
    TZASecureBytes(TZASecureBytes&& other) noexcept;
    TZASecureBytes& operator=(TZASecureBytes&& other) noexcept;
    ~TZASecureBytes();

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::span<std::uint8_t> span() { return {data_.get(), size_}; }
    std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }
    // Wipes and releases the bytes.
    void clear();

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
};

// Overwrites `bytes` with zeros in a way the compiler does not drop.
void SecureWipe(void* bytes, std::size_t n);

// Readies the crypto backend for the process, once; safe to call from any thread. Throws
// std::runtime_error when it cannot be used (libgcrypt older than the one built against, CNG
// without the algorithms).
void EnsureCryptoLibrary();

// ---- primitives -------------------------------------------------------------------------

// PBKDF2 with HMAC-SHA1 (RFC 2898) filling `out`. Throws std::runtime_error on a failure of
// the library.
void Pbkdf2HmacSha1(std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
                    unsigned long iterations, std::span<std::uint8_t> out);

// AES (FIPS 197) as a block cipher with a 16-, 24- or 32-byte key: each 16-byte block of the
// input is encrypted on its own.
class TZAAesBlockCipher {
  public:
    static constexpr std::size_t kBlockSize = 16;
    explicit TZAAesBlockCipher(std::span<const std::uint8_t> key);
    TZAAesBlockCipher(const TZAAesBlockCipher&) = delete;
    TZAAesBlockCipher& operator=(const TZAAesBlockCipher&) = delete;
    ~TZAAesBlockCipher();
    // `n` must be a multiple of the block size; `in` and `out` may be the same.
    void EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

  private:
    void* handle_ = nullptr; // the backend's key
};

// A running HMAC-SHA1 (RFC 2104).
class TZAHmacSha1 {
  public:
    static constexpr std::size_t kDigestSize = 20;
    explicit TZAHmacSha1(std::span<const std::uint8_t> key);
    TZAHmacSha1(const TZAHmacSha1&) = delete;
    TZAHmacSha1& operator=(const TZAHmacSha1&) = delete;
    ~TZAHmacSha1();
    void Update(const std::uint8_t* data, std::size_t n);
    // The digest of everything written so far. Later writes are ignored; later calls give
    // the same digest.
    std::array<std::uint8_t, kDigestSize> Final();

  private:
    void* handle_ = nullptr; // the backend's running MAC
    std::array<std::uint8_t, kDigestSize> digest_{};
    bool final_ = false;
};

// ---- the ZIP framing ----------------------------------------------------------------------

inline constexpr std::size_t kPkzipHeaderLength = 12;
inline constexpr std::size_t kAesVerifierLength = 2;
inline constexpr std::size_t kAesAuthCodeLength = 10;
inline constexpr unsigned long kAesKdfIterations = 1000;
inline constexpr std::uint16_t kAesVendorVersion = 2;

// AES key length in bytes for an algorithm (16, 24, 32), 0 for caPkzipClassic.
std::size_t AesKeyLength(TZACryptoAlgorithm algorithm);
// How many bytes the encryption adds to an item's compressed size: 12 for the traditional
// cipher, salt + verifier + authentication code for AES (20, 24 or 28).
std::size_t CryptoHeaderLength(TZACryptoAlgorithm algorithm);
// The byte the traditional header's last byte is checked against: the high byte of the local
// header's time when its flag bit 3 is set, else the high byte of its CRC-32.
std::uint8_t PkzipCheckByte(std::uint16_t localFlags, std::uint16_t localTime,
                            std::uint32_t localCrc32);

class TZACryptoTransform {
  public:
    virtual ~TZACryptoTransform() = default;

    // Bytes the encryption adds to the compressed size (see CryptoHeaderLength).
    virtual std::size_t HeaderLength() const = 0;
    // Bytes at the start of the item's data that CheckPassword takes.
    virtual std::size_t CheckHeaderLength() const = 0;
    // Bytes of the authentication code behind the data (0 when there is none).
    virtual std::size_t AuthCodeLength() const { return 0; }

    // The password the next check uses (its bytes as they are).
    virtual void SetPassword(std::string_view password) = 0;
    virtual bool HasPassword(std::string_view password) const = 0;

    // Checks the password against the encryption header (CheckHeaderLength() bytes from the
    // start of the item's data). A good check also readies the transform for the data;
    // a header of another length is a bad check.
    virtual bool CheckPassword(std::span<const std::uint8_t> header) = 0;
    // Decrypts the next `n` bytes of the item's data in place.
    virtual void Decrypt(std::uint8_t* data, std::size_t n) = 0;
    // Compares the stored authentication code with the one of the data decrypted so far.
    // Without a code (traditional cipher) it has nothing to say and returns true.
    virtual bool Authenticate(std::span<const std::uint8_t> storedCode) {
        (void)storedCode;
        return true;
    }
};

// The traditional PKWARE cipher of the ZIP application note.
class TPkzipCryptoTransform : public TZACryptoTransform {
  public:
    TPkzipCryptoTransform(std::string_view password, std::uint8_t checkByte);

    std::size_t HeaderLength() const override { return kPkzipHeaderLength; }
    std::size_t CheckHeaderLength() const override { return kPkzipHeaderLength; }
    void SetPassword(std::string_view password) override;
    bool HasPassword(std::string_view password) const override;
    // An empty password is a bad check.
    bool CheckPassword(std::span<const std::uint8_t> header) override;
    void Decrypt(std::uint8_t* data, std::size_t n) override;

  private:
    struct Keys {
        std::uint32_t k0, k1, k2;
    };
    void ResetKeys();

    TZASecureBytes password_;
    std::uint8_t checkByte_;
    Keys keys_{};
};

// WinZip AES: PBKDF2-HMAC-SHA1 key derivation, AES in counter mode, HMAC-SHA1 over the
// encrypted data.
class TAESCryptoTransform : public TZACryptoTransform {
  public:
    // `algorithm` is caAES_128, caAES_192 or caAES_256; others throw std::invalid_argument.
    TAESCryptoTransform(TZACryptoAlgorithm algorithm, std::string_view password);
    ~TAESCryptoTransform() override;

    std::size_t KeyLength() const { return keyLength_; }
    std::size_t SaltLength() const { return keyLength_ / 2; }
    std::uint16_t VendorVersion() const { return kAesVendorVersion; }
    // The compression method of the data, as the AES extra block gives it.
    std::uint16_t ActualMethod = 0;

    std::size_t HeaderLength() const override {
        return SaltLength() + kAesVerifierLength + kAesAuthCodeLength;
    }
    // Salt and verifier.
    std::size_t CheckHeaderLength() const override { return SaltLength() + kAesVerifierLength; }
    std::size_t AuthCodeLength() const override { return kAesAuthCodeLength; }

    // Keeps the salt already read and derives the keys again from the new password.
    void SetPassword(std::string_view password) override;
    bool HasPassword(std::string_view password) const override;
    bool CheckPassword(std::span<const std::uint8_t> header) override;
    void Decrypt(std::uint8_t* data, std::size_t n) override;
    // The first 10 bytes of the HMAC-SHA1 of the encrypted data against `storedCode`.
    bool Authenticate(std::span<const std::uint8_t> storedCode) override;

  private:
    void DeriveKeys();
    void NextKeyStream();

    std::size_t keyLength_;
    TZASecureBytes password_;
    TZASecureBytes salt_;
    TZASecureBytes derived_; // AES key, HMAC key, verifier
    std::unique_ptr<TZAAesBlockCipher> cipher_;
    std::unique_ptr<TZAHmacSha1> hmac_;
    std::uint64_t counter_ = 0;
    TZASecureBytes keyStream_; // encrypted counter blocks
    std::size_t keyStreamPos_ = 0;
    bool ready_ = false;
};

// A transform for an encrypted item's algorithm; the check byte is used by the traditional
// cipher only.
std::unique_ptr<TZACryptoTransform> MakeCryptoTransform(TZACryptoAlgorithm algorithm,
                                                        std::string_view password,
                                                        std::uint8_t checkByte);

} // namespace klv::zip

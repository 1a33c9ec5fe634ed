// The crypto primitives of the engine from libgcrypt (the Linux build's backend).
#include <gcrypt.h>

#include <stdexcept>
#include <string>

#include "zip/crypto.h"

namespace klv::zip {

namespace {

gcry_cipher_hd_t Cipher(void* handle) {
    return static_cast<gcry_cipher_hd_t>(handle);
}

gcry_mac_hd_t Mac(void* handle) {
    return static_cast<gcry_mac_hd_t>(handle);
}

[[noreturn]] void Fail(const char* what, gcry_error_t err) {
    throw std::runtime_error(std::string(what) + ": " + gcry_strerror(err));
}

int AesCipherAlgo(std::size_t keyLength) {
    switch (keyLength) {
    case 16:
        return GCRY_CIPHER_AES128;
    case 24:
        return GCRY_CIPHER_AES192;
    case 32:
        return GCRY_CIPHER_AES256;
    default:
        throw std::invalid_argument("AES key length must be 16, 24 or 32 bytes");
    }
}

} // namespace

void EnsureCryptoLibrary() {
    // A function-local static is initialised once, also when threads race for it.
    static const bool ready = [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P))
            return true; // someone else in the process set it up
        if (!gcry_check_version(GCRYPT_VERSION)) return false;
        // Key material lives in our own wiped buffers; no locked memory pool is needed.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    if (!ready)
        throw std::runtime_error(std::string("libgcrypt ") + GCRYPT_VERSION +
                                 " or newer is required");
}

void Pbkdf2HmacSha1(std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
                    unsigned long iterations, std::span<std::uint8_t> out) {
    EnsureCryptoLibrary();
    // The library wants a pointer even for an empty passphrase or salt.
    static const std::uint8_t none = 0;
    gcry_error_t err = gcry_kdf_derive(
        password.empty() ? &none : password.data(), password.size(), GCRY_KDF_PBKDF2, GCRY_MD_SHA1,
        salt.empty() ? &none : salt.data(), salt.size(), iterations, out.size(), out.data());
    if (err) Fail("PBKDF2", err);
}

TZAAesBlockCipher::TZAAesBlockCipher(std::span<const std::uint8_t> key) {
    int algo = AesCipherAlgo(key.size());
    EnsureCryptoLibrary();
    gcry_cipher_hd_t hd = nullptr;
    if (gcry_error_t err = gcry_cipher_open(&hd, algo, GCRY_CIPHER_MODE_ECB, 0)) Fail("AES", err);
    handle_ = hd;
    if (gcry_error_t err = gcry_cipher_setkey(hd, key.data(), key.size())) {
        gcry_cipher_close(hd); // the destructor does not run for a constructor that throws
        handle_ = nullptr;
        Fail("AES key", err);
    }
}

TZAAesBlockCipher::~TZAAesBlockCipher() {
    if (handle_) gcry_cipher_close(Cipher(handle_)); // wipes the key schedule
}

void TZAAesBlockCipher::EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    if (n % kBlockSize != 0) throw std::invalid_argument("AES input must be whole blocks");
    if (n == 0) return;
    gcry_error_t err = in == out ? gcry_cipher_encrypt(Cipher(handle_), out, n, nullptr, 0)
                                 : gcry_cipher_encrypt(Cipher(handle_), out, n, in, n);
    if (err) Fail("AES", err);
}

TZAHmacSha1::TZAHmacSha1(std::span<const std::uint8_t> key) {
    EnsureCryptoLibrary();
    gcry_mac_hd_t hd = nullptr;
    if (gcry_error_t err = gcry_mac_open(&hd, GCRY_MAC_HMAC_SHA1, 0, nullptr))
        Fail("HMAC-SHA1", err);
    handle_ = hd;
    static const std::uint8_t none = 0;
    if (gcry_error_t err = gcry_mac_setkey(hd, key.empty() ? &none : key.data(), key.size())) {
        gcry_mac_close(hd);
        handle_ = nullptr;
        Fail("HMAC-SHA1 key", err);
    }
}

TZAHmacSha1::~TZAHmacSha1() {
    if (handle_) gcry_mac_close(Mac(handle_));
    SecureWipe(digest_.data(), digest_.size());
}

void TZAHmacSha1::Update(const std::uint8_t* data, std::size_t n) {
    if (final_ || n == 0) return;
    if (gcry_error_t err = gcry_mac_write(Mac(handle_), data, n)) Fail("HMAC-SHA1", err);
}

std::array<std::uint8_t, TZAHmacSha1::kDigestSize> TZAHmacSha1::Final() {
    if (!final_) {
        std::size_t length = digest_.size();
        if (gcry_error_t err = gcry_mac_read(Mac(handle_), digest_.data(), &length))
            Fail("HMAC-SHA1", err);
        final_ = true;
    }
    return digest_;
}

} // namespace klv::zip

// The crypto primitives of the engine from the system's own cryptography (CNG, bcrypt.dll),
// the Windows build's backend. bcrypt.dll is no KnownDLL: it is loaded from System32 only, on
// first use, and never imported.
#include <windef.h>
// After windef.h, whose types it takes.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "platform/system_library.h"
#include "zip/crypto.h"

namespace klv::zip {

namespace {

struct Cng {
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithm = nullptr;
    decltype(&BCryptSetProperty) setProperty = nullptr;
    decltype(&BCryptGenerateSymmetricKey) generateKey = nullptr;
    decltype(&BCryptEncrypt) encrypt = nullptr;
    decltype(&BCryptDestroyKey) destroyKey = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    decltype(&BCryptDeriveKeyPBKDF2) pbkdf2 = nullptr;
    BCRYPT_ALG_HANDLE aes = nullptr;  // AES, electronic code book: the counter stream's blocks
    BCRYPT_ALG_HANDLE hmac = nullptr; // SHA-1 with the HMAC flag: HMAC-SHA1 and PBKDF2's PRF
    std::string failure;              // why CNG cannot be used, or empty

    Cng() {
        bool found =
            Find(openAlgorithm, "BCryptOpenAlgorithmProvider") &&
            Find(setProperty, "BCryptSetProperty") &&
            Find(generateKey, "BCryptGenerateSymmetricKey") && Find(encrypt, "BCryptEncrypt") &&
            Find(destroyKey, "BCryptDestroyKey") && Find(createHash, "BCryptCreateHash") &&
            Find(hashData, "BCryptHashData") && Find(finishHash, "BCryptFinishHash") &&
            Find(destroyHash, "BCryptDestroyHash") && Find(pbkdf2, "BCryptDeriveKeyPBKDF2");
        if (!found) {
            failure = "bcrypt.dll without the functions of Windows 7 in the system folder";
            return;
        }
        // The algorithm handles are opened once and shared by every key and hash: CNG allows
        // that from any thread. They stay open for the life of the process.
        if (!BCRYPT_SUCCESS(openAlgorithm(&aes, BCRYPT_AES_ALGORITHM, nullptr, 0)) ||
            !BCRYPT_SUCCESS(
                setProperty(aes, BCRYPT_CHAINING_MODE,
                            reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                            sizeof(BCRYPT_CHAIN_MODE_ECB), 0))) {
            failure = "CNG offers no AES in ECB mode";
            return;
        }
        if (!BCRYPT_SUCCESS(
                openAlgorithm(&hmac, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG)))
            failure = "CNG offers no HMAC-SHA1";
    }

  private:
    template <class F> static bool Find(F& f, const char* name) {
        f = reinterpret_cast<F>(platform::SystemLibraryFunction("bcrypt.dll", name));
        return f != nullptr;
    }
};

const Cng& Api() {
    static const Cng cng; // initialised once, also when threads race for it
    if (!cng.failure.empty()) throw std::runtime_error(cng.failure);
    return cng;
}

[[noreturn]] void Fail(const char* what, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    throw std::runtime_error(std::string(what) + ": CNG status " + code);
}

// HMAC pads a short key with zeros to the hash's block, so an empty key is the same key as one
// zero byte; CNG is given the latter (it refuses an empty secret on some versions).
const std::uint8_t kZeroByte = 0;

PUCHAR Secret(std::span<const std::uint8_t> key) {
    return const_cast<PUCHAR>(key.empty() ? &kZeroByte : key.data());
}

ULONG SecretLength(std::span<const std::uint8_t> key) {
    return key.empty() ? 1 : static_cast<ULONG>(key.size());
}

} // namespace

void EnsureCryptoLibrary() {
    Api();
}

void Pbkdf2HmacSha1(std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
                    unsigned long iterations, std::span<std::uint8_t> out) {
    const Cng& cng = Api();
    NTSTATUS status = cng.pbkdf2(cng.hmac, Secret(password), SecretLength(password),
                                 const_cast<PUCHAR>(salt.empty() ? &kZeroByte : salt.data()),
                                 static_cast<ULONG>(salt.size()), iterations, out.data(),
                                 static_cast<ULONG>(out.size()), 0);
    if (!BCRYPT_SUCCESS(status)) Fail("PBKDF2", status);
}

TZAAesBlockCipher::TZAAesBlockCipher(std::span<const std::uint8_t> key) {
    if (key.size() != 16 && key.size() != 24 && key.size() != 32)
        throw std::invalid_argument("AES key length must be 16, 24 or 32 bytes");
    const Cng& cng = Api();
    BCRYPT_KEY_HANDLE handle = nullptr;
    NTSTATUS status = cng.generateKey(cng.aes, &handle, nullptr, 0, const_cast<PUCHAR>(key.data()),
                                      static_cast<ULONG>(key.size()), 0);
    if (!BCRYPT_SUCCESS(status)) Fail("AES key", status);
    handle_ = handle;
}

TZAAesBlockCipher::~TZAAesBlockCipher() {
    if (handle_) Api().destroyKey(handle_); // CNG wipes the key schedule
}

void TZAAesBlockCipher::EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    if (n % kBlockSize != 0) throw std::invalid_argument("AES input must be whole blocks");
    const Cng& cng = Api();
    while (n > 0) {
        const ULONG run = static_cast<ULONG>(std::min<std::size_t>(n, 1u << 30));
        ULONG written = 0;
        NTSTATUS status = cng.encrypt(handle_, const_cast<PUCHAR>(in), run, nullptr, nullptr, 0,
                                      out, run, &written, 0);
        if (!BCRYPT_SUCCESS(status) || written != run) Fail("AES", status);
        in += run;
        out += run;
        n -= run;
    }
}

TZAHmacSha1::TZAHmacSha1(std::span<const std::uint8_t> key) {
    const Cng& cng = Api();
    BCRYPT_HASH_HANDLE handle = nullptr;
    NTSTATUS status =
        cng.createHash(cng.hmac, &handle, nullptr, 0, Secret(key), SecretLength(key), 0);
    if (!BCRYPT_SUCCESS(status)) Fail("HMAC-SHA1 key", status);
    handle_ = handle;
}

TZAHmacSha1::~TZAHmacSha1() {
    if (handle_) Api().destroyHash(handle_);
    SecureWipe(digest_.data(), digest_.size());
}

void TZAHmacSha1::Update(const std::uint8_t* data, std::size_t n) {
    if (final_) return;
    const Cng& cng = Api();
    while (n > 0) {
        const ULONG run = static_cast<ULONG>(std::min<std::size_t>(n, 1u << 30));
        NTSTATUS status = cng.hashData(handle_, const_cast<PUCHAR>(data), run, 0);
        if (!BCRYPT_SUCCESS(status)) Fail("HMAC-SHA1", status);
        data += run;
        n -= run;
    }
}

std::array<std::uint8_t, TZAHmacSha1::kDigestSize> TZAHmacSha1::Final() {
    if (!final_) {
        NTSTATUS status =
            Api().finishHash(handle_, digest_.data(), static_cast<ULONG>(digest_.size()), 0);
        if (!BCRYPT_SUCCESS(status)) Fail("HMAC-SHA1", status);
        final_ = true;
    }
    return digest_;
}

} // namespace klv::zip

// Shared helpers of the engine suites: scratch folders, files and opened archives.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "fixtures/raw_records.h"
#include "zip/archiver.h"

namespace klv::test {

// A folder of its own below the system's temporary folder, removed with everything in it.
class ScratchDir {
  public:
    ScratchDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("klvtest-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline std::u16string U16(const std::filesystem::path& p) {
    return p.u16string();
}

// Bytes that look like an executable and contain no ZIP signature.
inline std::string FakeExecutable(std::size_t size) {
    std::string s(size, '\0');
    std::mt19937 rng(7);
    for (auto& c : s)
        c = static_cast<char>('A' + rng() % 26);
    s.replace(0, 2, "MZ");
    return s;
}

// Writes `bytes` to `name` in the scratch folder and opens it as the installer does.
inline std::unique_ptr<zip::TZipArchive> OpenBytes(const ScratchDir& dir, const std::string& name,
                                                   const std::string& bytes) {
    WriteBytes(dir / name, bytes);
    auto a = std::make_unique<zip::TZipArchive>();
    a->FileName = U16(dir / name);
    a->Open(zip::kOpenModeShareRead);
    return a;
}

inline const zip::TZADirArray& Dir(const zip::TZABaseArchiver& a) {
    return a.DirManager()->Directory;
}

// Expects an EZAException with the given native code from `body`.
template <class F> void ExpectNative(int native, F&& body) {
    try {
        body();
        ADD_FAILURE() << "no exception, expected native code " << native;
    } catch (const zip::EZAException& e) {
        EXPECT_EQ(e.NativeError, native) << e.what();
    }
}

} // namespace klv::test

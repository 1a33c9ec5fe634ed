// A file held for a moment by another program (a virus scanner, an indexer) does not count
// as in use: the retry rule where it branches, and the real probe and move under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/tree_files.h"
#include "platform/win32/busy_retry.h"

using namespace klv::platform;
using win32::Attempt;

namespace {

struct Script {
    explicit Script(std::vector<Attempt> a) : answers(std::move(a)) {}
    std::vector<Attempt> answers;
    std::vector<int> pauses;
    int calls = 0;
    Attempt Run() {
        return win32::RetryWhileBusy([this] { return answers[calls++]; },
                                     [this](int ms) { pauses.push_back(ms); });
    }
};

std::u16string U(const std::filesystem::path& p) {
    return p.u16string();
}

} // namespace

TEST(BusyRetry, TriesFiveTimesOverTwoSecondsAndStopsOnAnAnswer) {
    Script first({Attempt::Done});
    EXPECT_EQ(first.Run(), Attempt::Done);
    EXPECT_TRUE(first.pauses.empty());

    Script later({Attempt::Busy, Attempt::Busy, Attempt::Done});
    EXPECT_EQ(later.Run(), Attempt::Done);
    EXPECT_EQ(later.pauses, (std::vector<int>{500, 500}));

    Script failed({Attempt::Busy, Attempt::Failed, Attempt::Done});
    EXPECT_EQ(failed.Run(), Attempt::Failed); // a failure that waiting cannot mend
    EXPECT_EQ(failed.calls, 2);

    Script busy(std::vector<Attempt>(9, Attempt::Busy));
    EXPECT_EQ(busy.Run(), Attempt::Busy);
    EXPECT_EQ(busy.calls, 5);
    EXPECT_EQ(busy.pauses, (std::vector<int>(4, 500)));
}

TEST(BusyRetry, AFileHeldForASecondIsFreeAndMovedOver) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("klv-retry-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    const auto target = folder / "kelvaro.exe";
    const auto staged = folder / "kelvaro.exe.new";
    std::ofstream(target) << "old";
    std::ofstream(staged) << "new";
    for (int round = 0; round < 2; ++round) {
        HANDLE held = CreateFileW(target.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread scanner([held] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            CloseHandle(held);
        });
        const auto start = std::chrono::steady_clock::now();
        if (round == 0)
            EXPECT_EQ(ProbeFileUse(U(target)), FileUse::Free);
        else
            EXPECT_TRUE(MoveReplacing(U(staged), U(target)));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
        scanner.join();
    }
    std::ifstream in(target);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "new");
    in.close();

    // Held for longer than the retries last: in use.
    HANDLE held = CreateFileW(target.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(ProbeFileUse(U(target)), FileUse::InUse);
    CloseHandle(held);
    std::filesystem::remove_all(folder);
}

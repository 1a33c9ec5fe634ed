// Test doubles of the installer window's surroundings: a view that keeps the controls'
// state, and a payload whose contents and failures a test scripts. Both write what they do
// into the fake machine's journal, so that a test reads one story of the run in order.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/payload.h"
#include "app/view.h"
#include "fakes/fake_machine.h"
#include "zip/errors.h"

namespace klv::test {

// A choice dialog that the user closes with its close box.
class FakeChoice final : public app::ChoiceView {
  public:
    void SetCaption(std::string_view) override {}
    void SetHeading(std::string_view) override {}
    int HeadingBottom() override { return 33; }
    void AddButton(int, int, int, int, int) override {}
    int AddLabel(int, int, int, std::string_view text) override {
        return static_cast<int>(text.size()) * 6;
    }
    int Width() override { return 400; }
    int Height() override { return 133; }
    void SetSize(int, int) override {}
    int ClientWidth() override { return 392; }
    int ClientHeight() override { return 106; }
    int CancelWidth() override { return 113; }
    int CancelHeight() override { return 33; }
    void MoveCancel(int, int) override {}
    bool ShowModal(int&) override { return false; }
};

class FakeView final : public app::UpgradeView {
  public:
    explicit FakeView(fakes::FakeMachine& machine) : m_(machine) {}

    std::string Caption() override { return caption; }
    void SetCaption(std::string_view c) override { caption = std::string(c); }
    std::string Text(app::Control c) override { return texts[c]; }
    void SetText(app::Control c, std::string_view t) override { texts[c] = std::string(t); }
    bool Visible(app::Control c) override { return !hidden[c]; }
    void SetVisible(app::Control c, bool v) override { hidden[c] = !v; }
    bool Enabled(app::Control c) override { return !disabled[c]; }
    void SetEnabled(app::Control c, bool e) override { disabled[c] = !e; }
    bool Checked(app::Control c) override { return !unchecked[c]; }
    void SetChecked(app::Control c, bool v) override { unchecked[c] = !v; }
    int OuterHeight() override { return height; }
    void SetOuterHeight(int h) override { height = h; }
    bool LoadPicture(std::string_view path) override {
        picture = std::string(path);
        return true;
    }
    void Repaint() override { m_.journal.push_back("repaint: " + caption); }
    void RepaintControl(app::Control) override {}
    bool BrowseForFolder(std::string_view start, std::string& chosen) override {
        m_.journal.push_back("browse " + std::string(start));
        if (browseAnswer) chosen = *browseAnswer;
        return browseAnswer.has_value();
    }
    void SetTimerEnabled(bool enabled) override { timerOn = enabled; }
    void Close() override { m_.journal.push_back("close"); }
    platform::WindowHandle Handle() override { return 77; }
    std::unique_ptr<app::ChoiceView> NewChoiceDialog() override {
        m_.journal.push_back("choice dialog");
        return std::make_unique<FakeChoice>();
    }

    // The window as stored.
    std::string caption = "Kwartierblad met plaats en datum                          ";
    std::map<app::Control, std::string> texts = {
        {app::Control::bnExtract, "&Installeren" + std::string(58, ' ')}};
    std::map<app::Control, bool> hidden, disabled, unchecked;
    int height = 172;
    std::string picture;
    std::optional<std::string> browseAnswer;
    bool timerOn = true;

  private:
    fakes::FakeMachine& m_;
};

struct PayloadScript {
    // Configuration files by name, written into the folder given, with their bytes.
    std::map<std::string, std::string> configuration;
    // Files the installation writes, relative to the folder.
    std::vector<std::string> items = {"kelvaro.exe", "Data\\nieuw.txt"};
    bool intact = true;
    bool failExtraction = false;               // the archive cannot be read at all
    bool failConfiguration = false;            // the configuration read fails in the engine
    int configurationError = zip::neNotIntact; // with this native code
    bool claimed = true;                       // no other copy of the installer runs
    std::vector<app::EarlierRun> earlierRuns;  // what the recovery at start finds
    // What the all-or-nothing installation ends in, when it does not succeed.
    app::InstallOutcome::Kind outcome = app::InstallOutcome::Ok;
    app::RecoveryResult recovery = app::RecoveryResult::Nothing; // with Blocked
};

class ScriptedPayload final : public app::Payload {
    using Strings = std::vector<std::string>;

  public:
    ScriptedPayload(fakes::FakeMachine& machine, const PayloadScript& script)
        : m_(machine), s_(script) {}

    bool Claim() override { return s_.claimed; }
    bool ExtractConfiguration(const std::string& folder) override {
        m_.journal.push_back("payload configuration");
        if (s_.failConfiguration) throw zip::EZAException(s_.configurationError, nullptr);
        bool found = false;
        for (const auto& entry : s_.configuration)
            found = found || fakes::CanonicalPath(entry.first) == "STUB.INI";
        for (const auto& [name, bytes] : s_.configuration)
            if (found) {
                m_.AddFile(folder + name, static_cast<std::int64_t>(bytes.size()));
                written_[fakes::CanonicalPath(folder + name)] = bytes;
            }
        return found;
    }
    std::string ReadConfiguration(const std::string& path) override {
        return written_[fakes::CanonicalPath(path)];
    }
    app::InstallOutcome Check(const std::string& folder) override {
        m_.journal.push_back("payload check " + folder);
        app::InstallOutcome check;
        if (!s_.intact) check.kind = app::InstallOutcome::Damaged;
        return check;
    }
    std::vector<std::string> Files() override { return s_.intact ? s_.items : Strings{}; }
    std::vector<app::EarlierRun> RecoverInterruptedRuns(const std::string&,
                                                        const app::RecoveryTrust&) override {
        return s_.earlierRuns;
    }
    app::InstallOutcome Install(const std::string& folder, const std::string& programFile,
                                const app::RecoveryTrust&) override {
        m_.journal.push_back("payload install " + folder + (programFile.empty() ? "" : " ") +
                             programFile);
        if (s_.failExtraction) throw zip::EZAException(zip::neNotIntact, nullptr);
        app::InstallOutcome outcome;
        const std::string base = folder.back() == '\\' ? folder : folder + "\\";
        const auto held = [&](const std::string& file) {
            return m_.HasFile(base + file) && !m_.OpenForWriting(base + file);
        };
        if (!programFile.empty() && held(programFile))
            outcome.kind = app::InstallOutcome::ProgramInUse;
        else if (std::any_of(s_.items.begin(), s_.items.end(), held))
            outcome.kind = app::InstallOutcome::FileInUse;
        else
            outcome.kind = s_.outcome;
        outcome.recovery = s_.recovery;
        if (outcome.kind == app::InstallOutcome::Ok)
            for (const std::string& item : s_.items)
                m_.AddFile(base + item, 10);
        return outcome;
    }

  private:
    fakes::FakeMachine& m_;
    PayloadScript s_;
    std::map<std::string, std::string> written_;
};

} // namespace klv::test

// The Dutch texts the installer shows are the fixed ones, to the byte: the catalogue against
// fixed_texts.txt, the texts as the installer must show them (also read by the end-to-end
// scenarios), in the ANSI code page (1252), "\r\n" a carriage return and a line feed. A text
// with a part that changes is checked with a sample part in its place.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/stubconf/stored_caption.h"
#include "util/texts.h"

using namespace klv;
namespace texts = util::texts;

namespace {

using Parts = std::vector<std::pair<std::string, std::string>>;

struct OurText {
    OurText(const char* n, std::string text, Parts samples = {})
        : name(n), ours(std::move(text)), parts(std::move(samples)) {}
    const char* name;
    std::string ours;
    Parts parts; // the sample parts, put in place of the file's {part}
};

const std::string kFolder = "D:\\Kelvaro";
const std::string kProgram = "D:\\Kelvaro\\kelvaro.exe";

std::string S(std::string_view text) {
    return std::string(text);
}

// One C string literal from `at` (its opening quote) on; `at` ends behind its closing quote.
std::string Literal(const std::string& line, std::size_t& at) {
    std::string text;
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] != '\\') {
            text += line[at];
            continue;
        }
        const char c = line.at(++at);
        if (c == 'x') {
            text += static_cast<char>(std::stoi(line.substr(at + 1, 2), nullptr, 16));
            at += 2;
        } else {
            text += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        }
    }
    if (at >= line.size()) throw std::runtime_error("unterminated text: " + line);
    ++at;
    return text;
}

std::map<std::string, std::string> ReadFixedTexts() {
    std::ifstream in(KLV_FIXED_TEXTS, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + std::string(KLV_FIXED_TEXTS));
    std::map<std::string, std::string> fixed;
    std::string line, name;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t quote = line.find('"');
        if (line.empty() || line[0] == '#' || quote == std::string::npos) continue;
        if (line[0] != ' ') name = line.substr(0, line.find(' '));
        for (std::size_t at = quote; at < line.size() && line[at] == '"';) {
            fixed[name] += Literal(line, at);
            while (at < line.size() && line[at] == ' ')
                ++at;
        }
    }
    return fixed;
}

std::string WithParts(std::string text, const Parts& parts) {
    for (const auto& [part, sample] : parts) {
        const std::string mark = "{" + part + "}";
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), sample);
    }
    return text;
}

const OurText kTexts[] = {
    // the message and question boxes
    {"yes_word", S(texts::YesWord)},
    {"no_word", S(texts::NoWord)},
    {"notice_title", S(texts::NoticeTitle)},
    // the window as stored and the entry sequence
    {"stored_caption", S(stubconf::StoredCaption)},
    {"stored_heading", S(texts::StoredHeading)},
    {"explanation", S(texts::Explanation)},
    {"stored_install_button", S(texts::StoredInstallButton)},
    {"cancel_button", S(texts::CancelButton)},
    {"browse_button", S(texts::BrowseButton)},
    {"search_button", S(texts::SearchButton)},
    {"shortcuts_check_box", S(texts::ShortcutsCheckBox)},
    {"product_heading", S(texts::ProductHeading)},
    {"help_heading", S(texts::HelpHeading)},
    {"install_button", S(texts::InstallButton)},
    // the first paint
    {"not_found_question", S(texts::NotFoundQuestion)},
    {"not_found_search_meaning", S(texts::NotFoundSearchMeaning)},
    {"not_found_browse_meaning", S(texts::NotFoundBrowseMeaning)},
    {"not_found_title", S(texts::NotFoundTitle)},
    // the target folder's validation
    {"path_not_found", S(texts::PathNotFound)},
    {"path_not_found_at", texts::PathNotFoundAt(kFolder), {{"folder", kFolder}}},
    {"not_kelvaro_location", S(texts::NotKelvaroLocation)},
    {"not_full_kelvaro_location", S(texts::NotFullKelvaroLocation)},
    // the drive search and the choice dialog
    {"found_locations_caption", texts::FoundLocationsCaption(3), {{"count", "3"}}},
    {"choice_caption", S(texts::ChoiceCaption)},
    {"choice_heading", S(texts::ChoiceHeading)},
    {"no_locations_found", S(texts::NoLocationsFound)},
    {"stored_choice_caption", S(texts::StoredChoiceCaption)},
    {"find_files_without_list", S(texts::FindFilesWithoutList)},
    // the version check
    {"newer_version_question",
     texts::NewerVersionQuestion("3.1.0.6", "3.1.0.5"),
     {{"installed", "3.1.0.6"}, {"package", "3.1.0.5"}}},
    {"cancel_update_meaning", S(texts::CancelUpdateMeaning)},
    {"older_version_meaning", texts::OlderVersionMeaning("3.1.0.5"), {{"package", "3.1.0.5"}}},
    {"version_check_title", S(texts::VersionCheckTitle)},
    // the installation run
    {"folder_does_not_exist", texts::FolderDoesNotExist(kFolder), {{"folder", kFolder}}},
    {"delete_failed", texts::DeleteFailed(kProgram), {{"file", kProgram}}},
    {"start_question", S(texts::StartQuestion)},
    {"installed_title", S(texts::InstalledTitle)},
    {"installation_done", S(texts::InstallationDone)},
    {"upgrade_not_installed", texts::UpgradeNotInstalled(kProgram), {{"file", kProgram}}},
    // the all-or-nothing run and the recovery of an earlier one
    {"nothing_changed", S(texts::NothingChanged)},
    {"damaged_package", texts::DamagedPackage()},
    // a committed run whose old files are still held by another program
    {"earlier_run_unfinished", texts::EarlierRunUnfinished(kFolder), {{"folder", kFolder}}},
    // a failure outside the engine and the disk, never a bare message of the program
    {"unexpected_failure", texts::UnexpectedFailure()},
    {"no_room",
     texts::NoRoom(kFolder, 120, 7),
     {{"folder", kFolder}, {"needed", "120"}, {"available", "7"}}},
    {"file_in_use", texts::FileInUse(kProgram), {{"file", kProgram}}},
    {"not_unpacked",
     texts::NotUnpacked(kFolder, "Data\\a.txt"),
     {{"folder", kFolder}, {"file", "Data\\a.txt"}}},
    {"already_running", S(texts::AlreadyRunning)},
    {"earlier_run_restored", S(texts::EarlierRunRestored)},
    {"earlier_run_incomplete", texts::EarlierRunIncomplete(kFolder), {{"folder", kFolder}}},
    {"folder_closed", S(texts::FolderClosed)},
    {"earlier_run_unreadable", texts::EarlierRunUnreadable(kFolder), {{"folder", kFolder}}},
    // a folder the user may not change
    {"no_write_rights_question", texts::NoWriteRightsQuestion(kFolder), {{"folder", kFolder}}},
    {"no_rights", texts::NoRights(kFolder, ""), {{"folder", kFolder}}},
    {"restart_as_administrator_meaning", S(texts::RestartAsAdministratorMeaning)},
    {"stop_meaning", S(texts::StopMeaning)},
    {"no_write_rights_title", S(texts::NoWriteRightsTitle)},
    // the command line
    {"bad_switch", texts::BadSwitch("/X"), {{"switch", "/X"}}},
    // shortcuts
    {"desktop_shortcut_failed",
     texts::DesktopShortcutFailed("C:\\Users\\piet\\Desktop"),
     {{"folder", "C:\\Users\\piet\\Desktop"}}},
    {"start_menu_not_found",
     texts::StartMenuNotFound("C:\\Start Menu"),
     {{"folder", "C:\\Start Menu"}}},
    {"start_menu_shortcut_failed",
     texts::StartMenuShortcutFailed("C:\\Start Menu"),
     {{"folder", "C:\\Start Menu"}}},
};

} // namespace

TEST(DutchTexts, AreTheFixedTextsToTheByte) {
    const std::map<std::string, std::string> fixed = ReadFixedTexts();
    std::set<std::string> checked;
    for (const OurText& text : kTexts) {
        const auto found = fixed.find(text.name);
        ASSERT_NE(found, fixed.end()) << text.name << " is not in fixed_texts.txt";
        EXPECT_EQ(text.ours, WithParts(found->second, text.parts)) << text.name;
        checked.insert(text.name);
    }
    // Every fixed text is held against the catalogue.
    for (const auto& [name, text] : fixed)
        EXPECT_TRUE(checked.count(name)) << name << " is checked against nothing";
}

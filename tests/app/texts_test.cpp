// The Dutch texts the installer shows are the fixed ones, to the byte: the catalogue against a
// table of the texts as the installer must show them, in the ANSI code page (1252), "\r\n" a
// carriage return and a line feed. A text with a part that changes is checked with a sample
// part in its place.
#include <gtest/gtest.h>

#include <string>

#include "app/stubconf/stored_caption.h"
#include "util/texts.h"

using namespace klv;
namespace texts = util::texts;

namespace {

struct FixedText {
    const char* what;
    std::string ours;
    std::string fixed;
};

const std::string kFolder = "D:\\Kelvaro";
const std::string kProgram = "D:\\Kelvaro\\kelvaro.exe";

std::string S(std::string_view text) {
    return std::string(text);
}

const FixedText kTexts[] = {
    // the message and question boxes
    {"Yes word", S(texts::YesWord), "Ja"},
    {"No word", S(texts::NoWord), "Nee"},
    {"notice title", S(texts::NoticeTitle), "Mededeling"},
    // the window as stored and the entry sequence
    {"stored caption", S(stubconf::StoredCaption),
     "Kwartierblad met plaats en datum" + std::string(26, ' ')},
    {"stored heading", S(texts::StoredHeading), "Kelvaro map:"},
    {"explanation", S(texts::Explanation),
     "(Kies alleen een andere map indien u zeker weet dat Kelvaro elders is ge\xEFnstalleerd)"},
    {"stored install button", S(texts::StoredInstallButton), "&Installeren"},
    {"cancel button", S(texts::CancelButton), "&Annuleren"},
    {"browse button", S(texts::BrowseButton), "..."},
    {"search button", S(texts::SearchButton), "&Zoek locaties"},
    {"shortcuts check box", S(texts::ShortcutsCheckBox), "Snelkoppelingen maken / aanpassen"},
    {"product heading", S(texts::ProductHeading), "Kelvaro Upgrade"},
    {"help heading", S(texts::HelpHeading), "Kelvaro Schermhelp"},
    {"configured install button", S(texts::InstallButton), "Installeren"},
    // the first paint
    {"not found question", S(texts::NotFoundQuestion),
     "Kelvaro locatie niet gevonden. Nu zoeken naar juiste locatie ?"},
    {"not found: Yes", S(texts::NotFoundSearchMeaning), "Nu zoeken"},
    {"not found: No", S(texts::NotFoundBrowseMeaning), "Zelf naar juiste locatie bladeren"},
    {"not found title", S(texts::NotFoundTitle), "Doelmap niet gevonden"},
    // the target folder's validation
    {"empty path", S(texts::PathNotFound), "Pad niet gevonden."},
    {"missing path", texts::PathNotFoundAt(kFolder), "Pad [" + kFolder + "] niet gevonden."},
    {"not Kelvaro", S(texts::NotKelvaroLocation),
     "Deze locatie is geen Kelvaro 3 locatie.\r\n\r\nDeze update werkt alleen in een Kelvaro 3 "
     "installatie. \r\n\r\n (Klik Ok om dit scherm te sluiten)"},
    {"not full Kelvaro", S(texts::NotFullKelvaroLocation),
     "Deze locatie is geen volledige Kelvaro 3 locatie.\r\n\r\nDeze update werkt alleen in een "
     "Kelvaro 3 installatie. \r\n\r\n (Klik Ok om dit scherm te sluiten)"},
    // the drive search and the choice dialog
    {"search caption", texts::FoundLocationsCaption(3), "3 gevonden locaties"},
    {"choice caption", S(texts::ChoiceCaption), "Geschikte mappen"},
    {"choice heading", S(texts::ChoiceHeading), " Maak uw keuze:"},
    {"nothing found", S(texts::NoLocationsFound),
     "Geen locaties gevonden. Installeer eerst een volledige installatie van Kelvaro 3."},
    {"stored choice caption", S(texts::StoredChoiceCaption), "Nieuw persoon vanuit zoekscherm"},
    {"FindFiles without a list", S(texts::FindFilesWithoutList), "FindFiles met nil aangeroepen"},
    // the version check
    {"version question", texts::NewerVersionQuestion("3.1.0.6", "3.1.0.5"),
     "De versie die u al heeft (3.1.0.6) is nieuwer dan de versie die u nu wilt installeren "
     "(3.1.0.5).\r\nUpdate annuleren ?"},
    {"version: Yes", S(texts::CancelUpdateMeaning), "Annuleren"},
    {"version: No", texts::OlderVersionMeaning("3.1.0.5"),
     "Toch oudere versie 3.1.0.5 installeren"},
    {"version title", S(texts::VersionCheckTitle), "Versiecontrole"},
    // the installation run
    {"folder missing", texts::FolderDoesNotExist(kFolder), "[" + kFolder + "] bestaat niet. "},
    {"delete failed", texts::DeleteFailed(kProgram),
     "Verwijderen van het bestaande bestand\r\n"
     "\"" +
         kProgram +
         "\""
         "lukt niet.\r\n"
         "Heeft u Kelvaro misschien al gestart?\r\nSluit Kelvaro dan en probeer nog eens.\r\n\r\n"
         "Lukt het nog niet ?\r\n"
         "Schakel dan de PC uit en weer aan en probeer opnieuw."},
    {"start question", S(texts::StartQuestion), "Direct starten ?"},
    {"installed title", S(texts::InstalledTitle), "Update [xxxxx] ge\xEFnstalleerd"},
    {"done", S(texts::InstallationDone), "Installatie voltooid"},
    {"not installed", texts::UpgradeNotInstalled(kProgram),
     "Upgrade (" + kProgram + ") niet ge\xEFnstalleerd"},
    // the damaged package, which the run refuses before it changes anything
    {"damaged package", texts::DamagedPackage(),
     "Het updatebestand is beschadigd of onvolledig.\r\nDownload de update opnieuw.\r\n\r\nEr is "
     "niets gewijzigd."},
    // shortcuts
    {"desktop shortcut", texts::DesktopShortcutFailed("C:\\Users\\piet\\Desktop"),
     "Geen shortcut op desktop [C:\\Users\\piet\\Desktop] geplaatst"},
    {"no start menu", texts::StartMenuNotFound("C:\\Start Menu"), "[C:\\Start Menu] niet gevonden"},
    {"start menu shortcut", texts::StartMenuShortcutFailed("C:\\Start Menu"),
     "Geen shortcut in startmenu [C:\\Start Menu] geplaatst"},
};

} // namespace

TEST(DutchTexts, AreTheFixedTextsToTheByte) {
    for (const FixedText& text : kTexts)
        EXPECT_EQ(text.ours, text.fixed) << text.what;
}

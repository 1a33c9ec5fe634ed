// Every Dutch text the installer shows, in one place, so that they are read and checked
// together. The texts are 8-bit ANSI (code page 1252) literals; "\r\n" is a line break as the
// message boxes show it. A text with a part that changes (a folder, a version, a count) is a
// small function that puts the part in its place.
//
// This catalogue lives in util, the lowest layer that shows a Dutch text (the boxes' words
// "Ja" and "Nee", the shortcut reports): util and app (the window logic and the native
// windows) include it. One text lives elsewhere: the window's stored caption, which klvpack
// replaces in a copy of the stub, stays with its block in app/stubconf/stored_caption.h, as
// that layer may include nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace klv::util::texts {

// ---- the message and question boxes ----

inline constexpr std::string_view YesWord = "Ja";
inline constexpr std::string_view NoWord = "Nee";
inline constexpr std::string_view NoticeTitle = "Mededeling";

// ---- the installer window as stored ----

inline constexpr std::string_view StoredHeading = "Kelvaro map:"; // padded with 32 blanks
inline constexpr std::string_view Explanation =
    "(Kies alleen een andere map indien u zeker weet dat Kelvaro elders is ge\xEFnstalleerd)";
inline constexpr std::string_view StoredInstallButton = "&Installeren"; // padded with 58 blanks
inline constexpr std::string_view CancelButton = "&Annuleren";
inline constexpr std::string_view BrowseButton = "...";
// What a screen reader says for the "..." button.
inline constexpr std::string_view BrowseButtonName = "Bladeren";
inline constexpr std::string_view SearchButton = "&Zoek locaties";
inline constexpr std::string_view ShortcutsCheckBox = "Snelkoppelingen maken / aanpassen";
// The native windows' own failure, shown by the default error handler.
inline constexpr std::string_view WindowNotMade = "Het venster kan niet worden gemaakt.";

// ---- the entry sequence, the first paint and the payload configuration ----

inline constexpr std::string_view ProductHeading = "Kelvaro Upgrade";
inline constexpr std::string_view HelpHeading = "Kelvaro Schermhelp";
// The install button of a configured package (no accelerator).
inline constexpr std::string_view InstallButton = "Installeren";

inline constexpr std::string_view NotFoundQuestion =
    "Kelvaro locatie niet gevonden. Nu zoeken naar juiste locatie ?";
inline constexpr std::string_view NotFoundSearchMeaning = "Nu zoeken";
inline constexpr std::string_view NotFoundBrowseMeaning = "Zelf naar juiste locatie bladeren";
inline constexpr std::string_view NotFoundTitle = "Doelmap niet gevonden";

// ---- the target folder's validation ----

inline constexpr std::string_view PathNotFound = "Pad niet gevonden.";
inline std::string PathNotFoundAt(std::string_view folder) {
    return "Pad [" + std::string(folder) + "] niet gevonden.";
}
inline constexpr std::string_view NotKelvaroLocation =
    "Deze locatie is geen Kelvaro 3 locatie.\r\n\r\nDeze update werkt alleen in een Kelvaro 3 "
    "installatie. \r\n\r\n (Klik Ok om dit scherm te sluiten)";
inline constexpr std::string_view NotFullKelvaroLocation =
    "Deze locatie is geen volledige Kelvaro 3 locatie.\r\n\r\nDeze update werkt alleen in een "
    "Kelvaro 3 installatie. \r\n\r\n (Klik Ok om dit scherm te sluiten)";

// ---- the drive search and the choice dialog ----

inline std::string FoundLocationsCaption(int count) {
    return std::to_string(count) + " gevonden locaties";
}
inline constexpr std::string_view ChoiceCaption = "Geschikte mappen";
inline constexpr std::string_view ChoiceHeading = " Maak uw keuze:";
inline constexpr std::string_view NoLocationsFound =
    "Geen locaties gevonden. Installeer eerst een volledige installatie van Kelvaro 3.";
// The choice dialog's caption as stored; always replaced before the dialog is shown.
inline constexpr std::string_view StoredChoiceCaption = "Nieuw persoon vanuit zoekscherm";
inline constexpr std::string_view ChoiceWindowNotMade = "Het keuzevenster kan niet worden gemaakt.";
// FindFiles called without a result list: a caller's error.
inline constexpr std::string_view FindFilesWithoutList = "FindFiles met nil aangeroepen";

// ---- the version check ----

inline std::string NewerVersionQuestion(std::string_view installed, std::string_view package) {
    return "De versie die u al heeft (" + std::string(installed) +
           ") is nieuwer dan de versie die u nu wilt installeren (" + std::string(package) +
           ").\r\nUpdate annuleren ?";
}
inline constexpr std::string_view CancelUpdateMeaning = "Annuleren";
inline std::string OlderVersionMeaning(std::string_view package) {
    return "Toch oudere versie " + std::string(package) + " installeren";
}
inline constexpr std::string_view VersionCheckTitle = "Versiecontrole";

// ---- the installation run ----

inline std::string FolderDoesNotExist(std::string_view folder) {
    return "[" + std::string(folder) + "] bestaat niet. ";
}
inline std::string DeleteFailed(std::string_view programFile) {
    return "Verwijderen van het bestaande bestand\r\n"
           "\"" +
           std::string(programFile) +
           "\""
           "lukt niet.\r\n"
           "Heeft u Kelvaro misschien al gestart?\r\nSluit Kelvaro dan en probeer nog eens.\r\n\r\n"
           "Lukt het nog niet ?\r\n"
           "Schakel dan de PC uit en weer aan en probeer opnieuw.";
}
inline constexpr std::string_view StartQuestion = "Direct starten ?";
inline constexpr std::string_view InstalledTitle = "Update [xxxxx] ge\xEFnstalleerd";
inline constexpr std::string_view InstallationDone = "Installatie voltooid";
inline std::string UpgradeNotInstalled(std::string_view programFile) {
    return "Upgrade (" + std::string(programFile) + ") niet ge\xEFnstalleerd";
}
// An exception that carries no text of its own.
inline constexpr std::string_view UnknownError = "Onbekende fout";

// ---- the all-or-nothing run and the recovery of an earlier one ----

// The end of every notice after which the installation is as it was.
inline constexpr std::string_view NothingChanged = "\r\n\r\nEr is niets gewijzigd.";

inline std::string DamagedPackage() {
    return "Het updatebestand is beschadigd of onvolledig.\r\nDownload de update opnieuw." +
           std::string(NothingChanged);
}
inline std::string NoRoom(std::string_view folder, std::uint64_t neededMB,
                          std::uint64_t availableMB) {
    return "Er is niet genoeg vrije ruimte op de schijf van [" + std::string(folder) +
           "].\r\nNodig: " + std::to_string(neededMB) +
           " MB, beschikbaar: " + std::to_string(availableMB) +
           " MB.\r\nMaak ruimte vrij en probeer het opnieuw." + std::string(NothingChanged);
}
inline std::string FileInUse(std::string_view file) {
    return "Het bestand \"" + std::string(file) +
           "\" is in gebruik door een ander programma.\r\nSluit Kelvaro en andere "
           "programma's en probeer het opnieuw." +
           std::string(NothingChanged);
}
// `item` empty: no file is named.
inline std::string NotUnpacked(std::string_view folder, std::string_view item) {
    return "De update kon niet worden uitgepakt in [" + std::string(folder) + "]." +
           (item.empty()
                ? std::string()
                : "\r\nHet bestand \"" + std::string(item) + "\" kon niet worden geschreven.") +
           std::string(NothingChanged);
}
// `file` empty: no file is named.
inline std::string NoRights(std::string_view folder, std::string_view file) {
    return "U heeft geen rechten om de bestanden in [" + std::string(folder) + "] te wijzigen." +
           (file.empty()
                ? std::string()
                : "\r\nHet bestand \"" + std::string(file) + "\" mag niet worden gewijzigd.") +
           std::string(NothingChanged);
}
inline std::string NotRestored(std::string_view file) {
    return "De update is mislukt en niet alle oude bestanden konden worden teruggezet (\"" +
           std::string(file) +
           "\").\r\nSluit alle programma's en start de update opnieuw: dan wordt "
           "het herstel afgemaakt.";
}
// A failure that is neither the package's nor the disk's: the run ended there.
inline std::string UnexpectedFailure() {
    return "Er is een onverwachte fout opgetreden; de update is gestopt.\r\nStart de update "
           "opnieuw: wat een onderbroken update heeft achtergelaten, wordt dan eerst "
           "hersteld.";
}
inline constexpr std::string_view AlreadyRunning =
    "Er wordt al een update ge\xEFnstalleerd.\r\nWacht tot die klaar is en probeer het "
    "daarna opnieuw.";
inline constexpr std::string_view EarlierRunRestored =
    "Een eerdere update is onderbroken. Kelvaro is teruggezet zoals het v\xF3\xF3r die update "
    "was.";
inline constexpr std::string_view EarlierRunCompleted =
    "Een eerdere update is onderbroken nadat alle bestanden waren geplaatst.\r\n"
    "Die update is nu afgerond.";
inline std::string EarlierRunIncomplete(std::string_view folder) {
    return "Een eerdere update in [" + std::string(folder) +
           "] is onderbroken en kon nog niet helemaal worden teruggedraaid.\r\nSluit alle "
           "programma's en start de update opnieuw.";
}
inline std::string EarlierRunUnfinished(std::string_view folder) {
    return "Een eerdere update in [" + std::string(folder) +
           "] is ge\xEFnstalleerd, maar de oude bestanden ervan konden nog niet worden "
           "opgeruimd: een ander programma gebruikt ze.\r\nSluit alle programma's en start de "
           "update opnieuw.";
}
// The end of a notice after which the folder stays closed to updates.
inline constexpr std::string_view FolderClosed =
    "\r\nZolang dat zo is, kan er in deze map geen update worden ge\xEFnstalleerd.";
inline std::string EarlierRunUnreadable(std::string_view folder) {
    return "Een eerdere update in [" + std::string(folder) +
           "] is onderbroken en kon niet worden teruggedraaid: het logboek ervan is "
           "onleesbaar.\r\nEr is niets gewijzigd; de oude bestanden zijn bewaard." +
           std::string(FolderClosed);
}
inline std::string OrphanBackup(std::string_view folder, std::string_view backup) {
    return "In [" + std::string(folder) +
           "] staat nog een reservekopie van een eerdere update:\r\n[" + std::string(backup) +
           "]\r\nZet terug wat u nodig heeft en verwijder die map daarna zelf." +
           std::string(FolderClosed);
}

// ---- a folder the user may not change ----

inline std::string NoWriteRightsQuestion(std::string_view folder) {
    return "U heeft geen rechten om de map\r\n\"" + std::string(folder) +
           "\"\r\nte wijzigen.\r\n\r\nDe update opnieuw starten als administrator ?";
}
inline constexpr std::string_view RestartAsAdministratorMeaning =
    "Opnieuw starten als administrator";
inline constexpr std::string_view StopMeaning = "Stoppen, niets wijzigen";
inline constexpr std::string_view NoWriteRightsTitle = "Geen schrijfrechten";
inline std::string AdministratorStartFailed() {
    return "De update kon niet als administrator worden gestart." + std::string(NothingChanged);
}
inline std::string UpdateStopped() {
    return "De update is gestopt." + std::string(NothingChanged);
}

// ---- the command line and the run without questions ----

inline constexpr std::string_view SwitchHelp =
    "Opties:\r\n\r\n"
    "/SILENT  -  installeren zonder vragen; het venster toont de voortgang\r\n"
    "/VERYSILENT  -  installeren zonder venster en zonder vragen\r\n"
    "/DIR=\"map\"  -  in deze Kelvaro 3 map installeren\r\n"
    "/LOG=\"bestand\"  -  het verslag in dit bestand schrijven\r\n"
    "/NOSTART  -  Kelvaro na afloop niet starten\r\n"
    "/CLOSEAPPLICATIONS  -  programma's die bestanden van Kelvaro open hebben vragen te sluiten\r\n"
    "/?  -  deze uitleg\r\n\r\n"
    "Zonder opties vraagt het programma wat nodig is.";
inline std::string BadSwitch(std::string_view switchText) {
    return "Onbekende of onjuiste optie: " + std::string(switchText) + "\r\n\r\n" +
           std::string(SwitchHelp) + std::string(NothingChanged);
}
// The explanation while a run without questions installs.
inline std::string InstallingInto(std::string_view folder) {
    return "Bezig met installeren in " + std::string(folder) + " ...";
}
// How the run's log names a box closed without a button.
inline constexpr std::string_view ClosedAnswer = "gesloten";

// ---- shortcuts (reported to the caller's callback) ----

inline std::string DesktopShortcutFailed(std::string_view desktop) {
    return "Geen shortcut op desktop [" + std::string(desktop) + "] geplaatst";
}
inline std::string StartMenuNotFound(std::string_view startMenu) {
    return "[" + std::string(startMenu) + "] niet gevonden";
}
inline std::string StartMenuShortcutFailed(std::string_view startMenu) {
    return "Geen shortcut in startmenu [" + std::string(startMenu) + "] geplaatst";
}

} // namespace klv::util::texts

// Recovery as an attacker feeds it: journals and notes of pending runs with valid checksums,
// built from a grammar of records and names (links in every position, "..", drives, devices,
// streams, the run's own names and other folders), cut off at any record, owned by a standard
// user or an administrator, on an in-memory disk; then a start's recovery, not elevated and
// elevated. What must hold: nothing outside the installation folder and the temporary folder
// changes (a run that is not elevated may also act in another complete installation the note
// names), changes inside are only at names a journal gave or the run's own, and an elevated
// run changes nothing a standard user's remains ask for, the note included.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "app/install_journal.h"
#include "fakes/memory_disk.h"
#include "platform/text.h"
#include "platform/tree_files.h"

namespace {

using klv::fakes::MemoryDisk;
using Owner = MemoryDisk::Owner;

const std::u16string kInstall = u"C:\\Kelvaro3\\";
const std::u16string kOutside = u"C:\\Buiten\\"; // a folder with something to lose
const std::u16string kAnother = u"C:\\Andere\\"; // another complete installation
const std::u16string kSystem = u"C:\\Windows\\";

constexpr std::array kParts = {"Data",
                               "Hulp",
                               "BDE",
                               "SC",
                               "..",
                               ".",
                               "C:",
                               "D:\\Buiten",
                               "CON",
                               "nul.txt",
                               "COM1",
                               "LPT9.log",
                               "a.txt:stream",
                               "victim.txt",
                               "kelvaro.exe",
                               "voornamen.txt",
                               "~klvupgrade.backup",
                               "~klvupgrade.staging",
                               "~klvupgrade.journal",
                               "Buiten",
                               "Andere",
                               "Windows",
                               "x. ",
                               "link",
                               "Slavenreg.sc",
                               "\\\\?\\C:",
                               "\\\\.\\PhysicalDrive0",
                               "nieuw",
                               "\x01",
                               "Caf\xC3\xA9"};

std::string Crc(std::string_view text) {
    char crc[10];
    std::snprintf(
        crc, sizeof crc, "%08lx ",
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    return crc;
}

std::string Name(FuzzedDataProvider& in) {
    std::string name;
    if (in.ConsumeBool() && in.ConsumeBool()) name = in.ConsumeBool() ? "\\" : "C:\\";
    const int count = in.ConsumeIntegralInRange(1, 3);
    for (int i = 0; i < count; ++i) {
        if (i) name += in.ConsumeBool() || in.ConsumeBool() ? "\\" : "/";
        name += kParts[in.ConsumeIntegralInRange<std::size_t>(0, kParts.size() - 1)];
    }
    return name;
}

struct Journal {
    std::string text;
    std::vector<std::string> names; // every name a record gave
};

Journal MakeJournal(FuzzedDataProvider& in) {
    Journal journal;
    journal.text = in.ConsumeBool() || in.ConsumeBool() ? "KLVUPGRADE-JOURNAL 3\n" : "KLVUPGRADE-J";
    const int records = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < records; ++i) {
        std::string record;
        switch (in.ConsumeIntegralInRange(0, 8)) {
        case 0:
            record = "D ";
            break;
        case 1:
            record = "F 0 ";
            break;
        case 2:
            record = "F 1 ";
            break;
        case 3:
            record = "W ";
            break;
        case 4:
            journal.text += Crc("PLAN") + "PLAN\n";
            continue;
        case 5:
            journal.text += Crc("SWITCH") + "SWITCH\n";
            continue;
        case 6:
            journal.text += Crc("COMMITTED") + "COMMITTED\n";
            continue;
        case 7:
            record = "R ";
            break;
        default:
            journal.text += in.ConsumeRandomLengthString(40) + "\n";
            continue;
        }
        const std::string name = Name(in);
        journal.names.push_back(name);
        journal.text += Crc(record + name) + record + name + "\n";
    }
    // Cut off anywhere: at a record's end, or inside one (a torn write).
    journal.text.resize(in.ConsumeIntegralInRange<std::size_t>(0, journal.text.size()));
    return journal;
}

std::u16string Wide(const std::string& text) {
    return klv::platform::Utf8ToUtf16(text);
}

void StageInstallation(MemoryDisk& disk, const std::u16string& folder) {
    disk.AddFolder(folder + u"BDE");
    disk.AddFile(folder + u"SC\\Slavenreg.sc", "sc");
    disk.AddFile(folder + u"Data\\voornamen.txt", "Jan");
    disk.AddFile(folder + u"kelvaro.exe", "MZ old");
}

bool Complete(MemoryDisk& disk, const std::u16string& folder) {
    return disk.IsFolder(folder + u"BDE") && disk.IsFile(folder + u"SC\\Slavenreg.sc") &&
           disk.IsFile(folder + u"Data\\voornamen.txt");
}

Owner OwnerOf(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? Owner::User : Owner::Administrator;
}

// Remains of a run, real or forged, in `folder`: a journal, and files and links where its
// records point (targets, staging, backup).
std::vector<std::string> PlantRemains(FuzzedDataProvider& in, MemoryDisk& disk,
                                      const std::u16string& folder) {
    const Journal journal = MakeJournal(in);
    const Owner owner = OwnerOf(in);
    if (in.ConsumeBool() || in.ConsumeBool())
        disk.AddFile(folder + u"~klvupgrade.journal", journal.text, owner);
    static const std::array<std::u16string, 4> places = {u"", u"~klvupgrade.staging\\",
                                                         u"~klvupgrade.backup\\", u"Data\\"};
    const int plants = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < plants; ++i) {
        const std::u16string place = places[in.ConsumeIntegralInRange<std::size_t>(0, 3)];
        const std::u16string name = journal.names.empty() || in.ConsumeBool()
                                        ? Wide(Name(in))
                                        : Wide(journal.names[in.ConsumeIntegralInRange<std::size_t>(
                                              0, journal.names.size() - 1)]);
        const Owner owner = OwnerOf(in);
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            disk.AddFile(folder + place + name, "planted", owner);
            break;
        case 1:
            disk.AddFolder(folder + place + name, owner);
            break;
        default:
            disk.AddLink(folder + place + name,
                         in.ConsumeBool() ? kOutside : (in.ConsumeBool() ? kSystem : kAnother));
        }
    }
    return journal.names;
}

// The changes between two states of the disk: paths added, removed or changed.
std::vector<std::u16string> Changes(const MemoryDisk& before, const MemoryDisk& after) {
    std::vector<std::u16string> changed;
    for (const auto& [path, entry] : before.Entries()) {
        const auto now = after.Entries().find(path);
        if (now == after.Entries().end() || !(now->second == entry)) changed.push_back(path);
    }
    for (const auto& [path, entry] : after.Entries())
        if (!before.Entries().count(path)) changed.push_back(path);
    return changed;
}

bool Below(const std::u16string& path, const std::u16string& folder) {
    const std::u16string key = MemoryDisk::Canonical(folder);
    return path == key || path.starts_with(key + u'\\');
}

// Whether `path` (canonical) is the run's own or lies at or below a name a journal gave.
bool Named(const std::u16string& path, const std::u16string& folder,
           const std::vector<std::string>& names) {
    const std::u16string key = MemoryDisk::Canonical(folder);
    if (!Below(path, folder) || path == key) return false;
    const std::u16string inside = path.substr(key.size() + 1);
    if (inside.starts_with(u"~KLVUPGRADE.")) return true;
    for (const std::string& name : names) {
        const std::u16string named = MemoryDisk::Canonical(key + u'\\' + Wide(name));
        if (named.size() > key.size() && (path == named || path.starts_with(named + u'\\')))
            return true;
    }
    return false;
}

[[noreturn]] void Fail(const char* what, const std::u16string& path) {
    std::fprintf(stderr, "%s: %s\n", what, klv::platform::Utf16ToUtf8(path).c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::u16string temp = klv::platform::TempDirectory();
    MemoryDisk disk;
    disk.AddFolder(temp);
    disk.AddFile(kSystem + u"win.ini", "[fonts]");
    disk.AddFile(kOutside + u"victim.txt", "not the installation's");
    disk.AddFile(kOutside + u"Data\\voornamen.txt", "not the installation's");
    StageInstallation(disk, kInstall);
    StageInstallation(disk, kAnother);
    if (in.ConsumeBool()) disk.AddLink(kInstall + u"Hulp", kOutside);
    if (in.ConsumeBool()) disk.AddLink(kInstall + u"Data\\link", kSystem);

    const std::vector<std::string> installNames = PlantRemains(in, disk, kInstall);
    PlantRemains(in, disk, kOutside);
    const std::vector<std::string> anotherNames = PlantRemains(in, disk, kAnother);
    static const std::array<std::u16string, 6> noted = {
        kInstall, kOutside, kAnother, u"C:\\Kelvaro3\\..\\Buiten\\", u"Kelvaro3\\", kSystem};
    std::string note;
    const int lines = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < lines; ++i)
        note += klv::platform::Utf16ToUtf8(
                    noted[in.ConsumeIntegralInRange<std::size_t>(0, noted.size() - 1)]) +
                "\n";
    if (!note.empty()) disk.AddFile(temp + u"klvupgrade.pending", note, Owner::User);

    // What an elevated run may act on in the installation: the journal, or without one the
    // staging folder, an administrator made.
    const std::u16string remains = kInstall + (disk.Kind(kInstall + u"~klvupgrade.journal") !=
                                                       klv::platform::EntryKind::Missing
                                                   ? u"~klvupgrade.journal"
                                                   : u"~klvupgrade.staging");
    const bool administratorsRemains = disk.AdministratorOwns(remains);
    for (const bool elevated : {false, true}) {
        MemoryDisk run = disk;
        run.creator = elevated ? Owner::Administrator : Owner::User;
        klv::app::RecoveryTrust trust;
        trust.elevated = elevated;
        trust.mayActOnNoted = [&run](const std::u16string& f) { return Complete(run, f); };
        klv::app::RecoverEarlierRuns(kInstall, true, trust, run);
        for (const std::u16string& path : Changes(disk, run)) {
            const bool installation = Named(path, kInstall, installNames);
            // Acted on only where trusted: an elevated run on what an administrator wrote.
            if (installation && (!elevated || administratorsRemains)) continue;
            if (!elevated && (Below(path, temp) || Named(path, kAnother, anotherNames))) continue;
            Fail(elevated ? "the elevated run changed" : "the run changed", path);
        }
    }
    return 0;
}

#include "help.h"

namespace klv::klvpack {

namespace {

struct CommandHelp {
    std::string_view name, synopsis, text;
};

constexpr CommandHelp kCommands[] = {
    {"build",
     "klvpack build [--stub STUB.exe] --payload DIR [--caption TEXT] [--level 0-12] -o PACKAGE.exe",
     "Writes the installer stub and a ZIP archive of every file and folder below DIR behind it.\n"
     "The same stub, folder and options always give the same bytes.\n"
     "  --stub STUB.exe  the installer stub; without it the klvupgradeStub.exe beside klvpack,\n"
     "                   else the 32-bit build's\n"
     "  --payload DIR    the files to install, as they lie below the installation folder\n"
     "  --caption TEXT   the window's caption; \"Kelvaro Update 3.2.0.1]\" gives a program\n"
     "                   upgrade its version (also written into the package's file properties)\n"
     "  --level 0-12     deflate level, libdeflate's (7; 12 smallest and slowest; 0 stores)\n"
     "  -o PACKAGE.exe   the package; an existing file is replaced only by a finished build\n"
     "Warns, as check does, of a missing caption or version, an empty payload and a program\n"
     "upgrade without kelvaro.exe. Exit 0 built, 2 refused (nothing written)."},
    {"check", "klvpack check PACKAGE.exe",
     "Says what the installer will do with the package: the stub, caption, run mode, version,\n"
     "Stub.ini, picture, signature and every item tested, with the maker's likely mistakes.\n"
     "Exit 0 as made, 1 warnings or refused by the installer, 3 cannot be opened."},
    {"manifest", "klvpack manifest PACKAGE.exe [--url URL] [--publisher TEXT] -o DIR",
     "Writes a winget manifest of the package into DIR (three files, schema 1.6.0): the\n"
     "version from the caption, the file's SHA-256, the architecture from the stub, the\n"
     "installer's switches and exit codes.\n"
     "  --url URL         where the package is downloaded from (else a placeholder to replace)\n"
     "  --publisher TEXT  the publisher (else the CompanyName of the package's file properties)\n"
     "  -o DIR            the folder for the manifest, made when missing\n"
     "Exit 0 written, 2 refused (a caption without a version, not a package), 3 cannot be\n"
     "opened."},
    {"list", "klvpack list [--password PW] ARCHIVE",
     "One tab-separated line per entry, in directory order: name, unpacked size, packed size,\n"
     "CRC-32, external attributes, DOS stamp, and E for an encrypted entry or -.\n"
     "Exit 0, 3 cannot be opened."},
    {"test", "klvpack test [--password PW] [--ask-password] ARCHIVE",
     "Checks every item (sizes, CRC-32, AES authentication code) without writing anything:\n"
     "OK or FAILED per item. Exit 0 all good, 1 an item failed, 3 cannot be opened."},
    {"extract", "klvpack extract [--password PW] [--ask-password] ARCHIVE DESTDIR",
     "Writes every item below DESTDIR, replacing existing files; names that would leave DESTDIR\n"
     "are refused. Exit 0 all good, 1 an item failed, 3 cannot be opened."},
    {"help", "klvpack help [COMMAND]", "Lists the commands, or says what one does."},
};

const CommandHelp* Find(std::string_view name) {
    for (const CommandHelp& c : kCommands)
        if (c.name == name) return &c;
    return nullptr;
}

} // namespace

void PrintUsage(std::FILE* to) {
    std::fputs("usage:\n", to);
    for (const CommandHelp& c : kCommands)
        std::fprintf(to, "  %.*s\n", static_cast<int>(c.synopsis.size()), c.synopsis.data());
    std::fputs("  klvpack --version\n"
               "klvpack help COMMAND (or klvpack COMMAND --help) says what a command does.\n",
               to);
}

bool PrintCommandHelp(std::string_view command, std::FILE* to) {
    const CommandHelp* c = Find(command);
    if (!c) return false;
    std::fprintf(to, "usage: %.*s\n\n%.*s\n", static_cast<int>(c->synopsis.size()),
                 c->synopsis.data(), static_cast<int>(c->text.size()), c->text.data());
    return true;
}

void PrintCommandUsage(std::string_view command, std::FILE* to) {
    if (const CommandHelp* c = Find(command))
        std::fprintf(to, "usage: %.*s\n", static_cast<int>(c->synopsis.size()), c->synopsis.data());
}

std::string VersionLine() {
    return std::string("klvpack ") + KLV_KLVPACK_VERSION;
}

} // namespace klv::klvpack

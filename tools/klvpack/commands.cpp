#include "commands.h"

#include <cinttypes>
#include <memory>

#include "platform/text.h"
#include "zip/archiver.h"

namespace klv::klvpack {

namespace {

std::string Utf8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

// Standard output through one large buffer: listings of 100,000 entries stay cheap.
class Output {
  public:
    Output() { std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16); }
    ~Output() { std::fflush(stdout); }
    void Line(const std::string& s) {
        std::fwrite(s.data(), 1, s.size(), stdout);
        std::fputc('\n', stdout);
    }
};

std::unique_ptr<zip::TZipArchive> OpenArchive(const Arguments& args) {
    auto archive = std::make_unique<zip::TZipArchive>();
    archive->FileName = args.operands[0];
    if (args.hasPassword) archive->SetPassword(args.password);
    // Read access, others may read and write: the archive is never changed.
    archive->Open(zip::kOpenModeShareRead);
    return archive;
}

int List(const Arguments& args) {
    auto archive = OpenArchive(args);
    const zip::TZADirArray& dir = archive->DirManager()->Directory;
    Output out;
    char numbers[128];
    for (std::int32_t i = 0; i < dir.Count(); ++i) {
        const zip::TDirItem& e = dir.Item(i);
        std::u16string name = e.FileName;
        for (auto& c : name)
            if (c == u'/') c = u'\\';
        if (!name.empty() && name.back() == u'\\') name.pop_back();
        const zip::CentralHeader& h = e.Header;
        std::snprintf(numbers, sizeof numbers, "\t%" PRId64 "\t%" PRId64 "\t%08" PRIx32
                                               "\t%08" PRIx32 "\t%08" PRIx32 "\t%c",
                      e.UncompressedSize(), e.CompressedSize(), h.Crc32(),
                      h.ExternalAttributes(),
                      (static_cast<std::uint32_t>(h.DosDate()) << 16) | h.DosTime(),
                      e.Encrypted() ? 'E' : '-');
        out.Line(Utf8(name) + numbers);
    }
    return kExitOk;
}

} // namespace

void PrintUsage(std::FILE* to) {
    std::fputs("usage: klvpack list    [--password PW] ARCHIVE\n"
               "       klvpack test    [--password PW] [--ask-password] ARCHIVE\n"
               "       klvpack extract [--password PW] [--ask-password] ARCHIVE DESTDIR\n",
               to);
}

bool ParseArguments(const std::vector<std::u16string>& args, Arguments& out, std::string& error) {
    if (args.empty()) return false;
    out.command = Utf8(args[0]);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        if (a == u"--password") {
            if (++i >= args.size()) {
                error = "--password needs a value";
                return false;
            }
            out.password = platform::Utf16ToAnsi(args[i]);
            out.hasPassword = true;
        } else if (a == u"--ask-password") {
            out.askPassword = true;
        } else if (a.size() > 1 && a[0] == u'-' && a[1] == u'-') {
            error = "unknown option " + Utf8(a);
            return false;
        } else {
            out.operands.push_back(a);
        }
    }
    std::size_t want = 0;
    if (out.command == "list" || out.command == "test")
        want = 1;
    else if (out.command == "extract")
        want = 2;
    else {
        error = "unknown command " + out.command;
        return false;
    }
    if (out.operands.size() != want) {
        error = "wrong number of operands";
        return false;
    }
    return true;
}

int Run(const Arguments& args) {
    try {
        if (args.command == "list") return List(args);
        std::fprintf(stderr, "klvpack: %s is not available yet\n", args.command.c_str());
        return kExitUsage;
    } catch (const zip::EZAError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return kExitCannotOpen;
    }
}

} // namespace klv::klvpack

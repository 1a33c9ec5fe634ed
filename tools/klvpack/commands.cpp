#include "commands.h"

#include <chrono>
#include <cinttypes>
#include <iostream>
#include <memory>
#include <new>

#include "open_failure.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "progress.h"
#include "zip/archiver.h"

namespace klv::klvpack {

namespace {

// Standard output through one large buffer: listings of 100,000 entries stay cheap.
class Output {
  public:
    Output() { std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16); }
    ~Output() { std::fflush(stdout); }
    void Line(const std::string& s) {
        std::fwrite(s.data(), 1, s.size(), stdout);
        std::fputc('\n', stdout);
    }
    // Ends an item's line for whoever reads along: at once on a terminal, otherwise at least
    // every tenth of a second (a flush per item would cost a system call per file).
    void ItemDone() {
        const auto now = std::chrono::steady_clock::now();
        if (terminal_ || now - lastFlush_ >= std::chrono::milliseconds(100)) {
            std::fflush(stdout);
            lastFlush_ = now;
        }
    }

  private:
    bool terminal_ = IsTerminal(1);
    std::chrono::steady_clock::time_point lastFlush_ = std::chrono::steady_clock::now();
};

std::unique_ptr<zip::TZipArchive> OpenArchive(const Arguments& args) {
    auto archive = std::make_unique<zip::TZipArchive>();
    archive->FileName = args.operands[0];
    // A signed package is read as it was before signing: up to its certificate table.
    archive->SignedView = true;
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
        std::u16string name = platform::WithSeparators(e.FileName);
        if (!name.empty() && name.back() == u'\\') name.pop_back();
        const zip::CentralHeader& h = e.Header;
        std::snprintf(numbers, sizeof numbers,
                      "\t%" PRId64 "\t%" PRId64 "\t%08" PRIx32 "\t%08" PRIx32 "\t%08" PRIx32 "\t%c",
                      e.UncompressedSize(), e.CompressedSize(), h.Crc32(), h.ExternalAttributes(),
                      (static_cast<std::uint32_t>(h.DosDate()) << 16) | h.DosTime(),
                      e.Encrypted() ? 'E' : '-');
        out.Line(platform::Utf16ToUtf8(name) + numbers);
    }
    return kExitOk;
}

// Runs test or extract with the tool's handlers: existing files are always replaced, a failed
// item is reported on one line and skipped, encrypted items without a valid password are
// skipped (or, with --ask-password, the password is asked for on the terminal).
int Process(const Arguments& args, bool extract) {
    auto archive = OpenArchive(args);
    Output out;
    int exitCode = kExitOk;
    bool skipped = false;
    std::int64_t total = 0;
    const zip::TZADirArray& dir = archive->DirManager()->Directory;
    for (std::int32_t i = 0; i < dir.Count(); ++i)
        total += dir.Item(i).UncompressedSize();
    ProgressLine progress(extract ? "extracting" : "testing", total, dir.Count());
    progress.Follow(*archive);

    auto displayName = [](const std::u16string& name) {
        std::u16string n = name;
        if (!n.empty() && n.back() == u'\\') n.pop_back();
        return platform::Utf16ToUtf8(n);
    };
    archive->Options.OverwriteMode = zip::TZAOverwriteMode::omAlways;
    archive->BaseDir = extract ? args.operands[1] : std::u16string();
    archive->OnPassword = [&](zip::TZABaseArchiver&, const std::u16string& name,
                              std::string& password, bool& skip) {
        if (!args.askPassword) {
            skip = true;
            skipped = true;
            return;
        }
        std::fflush(stdout);
        std::fprintf(stderr, "Password for \"%s\": ", platform::Utf16ToUtf8(name).c_str());
        std::string line;
        if (!std::getline(std::cin, line) || line.empty()) {
            skip = true;
            skipped = true;
            return;
        }
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        password = platform::Utf16ToAnsi(platform::Utf8ToUtf16(line));
        skip = false;
    };
    archive->OnFileProgress = [&](zip::TZABaseArchiver&, const std::u16string& name, double,
                                  zip::TZAProcessOperation, zip::TZAProgressPhase phase, bool&) {
        if (phase == zip::TZAProgressPhase::ppStart) skipped = false;
        if (phase != zip::TZAProgressPhase::ppEnd) return;
        progress.Interrupt();
        if (skipped) {
            out.Line("FAILED\t" + displayName(name) + "\t" +
                     platform::Utf16ToUtf8(
                         zip::EZAException(zip::neInvalidPassword, archive.get()).Message()));
            exitCode = kExitItemFailed;
        } else {
            out.Line("OK\t" + displayName(name));
        }
        out.ItemDone();
        progress.ItemDone();
    };
    archive->OnProcessFileFailure = [&](zip::TZABaseArchiver&, const std::u16string& name,
                                        zip::TZAProcessOperation, int, int,
                                        const std::u16string& message, zip::TZAAction& action) {
        progress.Interrupt();
        out.Line("FAILED\t" + displayName(name) + "\t" + platform::Utf16ToUtf8(message));
        out.ItemDone();
        progress.ItemDone();
        exitCode = kExitItemFailed;
        action = zip::TZAAction::fxaIgnore;
    };
    if (extract)
        archive->ExtractMatching(u"*.*", 0xFFFF);
    else
        archive->TestMatching(u"*.*", 0xFFFF);
    progress.Finish();
    return exitCode;
}

} // namespace

bool ParseArguments(const std::vector<std::u16string>& args, Arguments& out, std::string& error) {
    if (args.empty()) return false;
    out.command = platform::Utf16ToUtf8(args[0]);
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
            error = "unknown option " + platform::Utf16ToUtf8(a);
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
        error = "unknown command " + out.command + " (klvpack --help lists them)";
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
        return Process(args, args.command == "extract");
    } catch (const zip::EZAError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "klvpack %s: %s\n", args.command.c_str(),
                     CannotOpenText(args.operands[0], e).c_str());
        return kExitCannotOpen;
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "klvpack: not enough memory to read the archive\n");
        return kExitCannotOpen;
    }
}

} // namespace klv::klvpack

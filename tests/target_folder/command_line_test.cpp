// The command line's switches: every form the parser must take or report.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "platform/text.h"

using klv::app::CommandLine;
using klv::platform::Utf16ToUtf8;
using klv::platform::Utf8ToUtf16;

namespace {

using Strings = std::vector<std::string>;

// The command line is UTF-16; these cases are written in UTF-8.
CommandLine ParseCommandLine(std::string_view arguments) {
    return klv::app::ParseCommandLine(Utf8ToUtf16(arguments));
}
std::string ArgumentsOf(std::string_view line) {
    return Utf16ToUtf8(klv::app::ArgumentsOf(Utf8ToUtf16(line)));
}
std::string QuoteArgument(std::string_view argument) {
    return Utf16ToUtf8(klv::app::QuoteArgument(Utf8ToUtf16(argument)));
}
std::string Narrow(const std::optional<std::u16string>& text) {
    return text ? Utf16ToUtf8(*text) : "<none>";
}
Strings Narrow(const std::vector<std::u16string>& texts) {
    Strings out;
    for (const auto& text : texts)
        out.push_back(Utf16ToUtf8(text));
    return out;
}

struct Case {
    const char* arguments;
    bool verySilent, silent, noStart, help;
    const char* dir; // nullptr: none
    const char* log;
    Strings unknown, malformed;
};

} // namespace

TEST(CommandLineSwitches, EveryFormTakenOrReported) {
    const Case cases[] = {
        {"", false, false, false, false, nullptr, nullptr, {}, {}},
        {"/VERYSILENT /nostart", true, false, true, false, nullptr, nullptr, {}, {}},
        {"  /Silent\t/?  ", false, true, false, true, nullptr, nullptr, {}, {}},
        {"/DIR=\"C:\\Mijn Kelvaro\" /log=\"C:\\temp\\upd.log\"",
         false,
         false,
         false,
         false,
         "C:\\Mijn Kelvaro",
         "C:\\temp\\upd.log",
         {},
         {}},
        {"/dir=D:\\Kelvaro3", false, false, false, false, "D:\\Kelvaro3", nullptr, {}, {}},
        // A folder ending in a backslash keeps it; quotes may sit anywhere in the value.
        {"/DIR=\"C:\\Kelvaro\\\"", false, false, false, false, "C:\\Kelvaro\\", nullptr, {}, {}},
        {"\"/DIR=C:\\Program Files\\Kelvaro\"",
         false,
         false,
         false,
         false,
         "C:\\Program Files\\Kelvaro",
         nullptr,
         {},
         {}},
        // Unknown: not a switch of the installer, or a known name with more letters; every
        // one reported. Other installers' habits are taken (and logged).
        {"/sp- /VERYSILENTX setup.ini /NORESTART=1 /SUPPRESSMSGBOXES",
         false,
         false,
         false,
         false,
         nullptr,
         nullptr,
         {"/VERYSILENTX", "setup.ini"},
         {"/NORESTART=1"}},
        {"/LOG=C:\\Beheer\\журнал.log",
         false,
         false,
         false,
         false,
         nullptr,
         "C:\\Beheer\\журнал.log",
         {},
         {}},
        // Malformed: no value, an empty one, a value on a plain switch, an open quote.
        {"/DIR /LOG= /SILENT=1 /DIR=\"C:\\Kel",
         false,
         false,
         false,
         false,
         nullptr,
         nullptr,
         {},
         {"/DIR", "/LOG=", "/SILENT=1", "/DIR=\"C:\\Kel"}},
        {"/DIR=\"\"", false, false, false, false, nullptr, nullptr, {}, {"/DIR=\"\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CommandLine r = ParseCommandLine(c.arguments);
        EXPECT_EQ(r.verySilent, c.verySilent);
        EXPECT_EQ(r.silent, c.silent);
        EXPECT_EQ(r.noStart, c.noStart);
        EXPECT_EQ(r.help, c.help);
        EXPECT_EQ(Narrow(r.dir), c.dir ? c.dir : "<none>");
        EXPECT_EQ(Narrow(r.log), c.log ? c.log : "<none>");
        EXPECT_EQ(Narrow(r.unknown), c.unknown);
        EXPECT_EQ(Narrow(r.malformed), c.malformed);
        EXPECT_EQ(r.Ok(), c.unknown.empty() && c.malformed.empty());
        EXPECT_EQ(r.accepted.size(), std::string_view(c.arguments).starts_with("/sp-") ? 2u : 0u);
    }
}

TEST(CommandLineSwitches, TheRelaunchArgumentParsesBack) {
    EXPECT_EQ(ArgumentsOf("\"C:\\Users\\Jan\\Downloads\\klv update.exe\" /DIR=\"C:\\K 3\""),
              "/DIR=\"C:\\K 3\"");
    EXPECT_EQ(ArgumentsOf("klvupgrade.exe  /SILENT"), "/SILENT");
    EXPECT_EQ(ArgumentsOf("klvupgrade.exe"), "");
    for (const char* folder : {"C:\\Program Files (x86)\\Kelvaro", "C:\\Kelvaro3\\", "D:\\"})
        EXPECT_EQ(
            Narrow(ParseCommandLine(Utf16ToUtf8(klv::app::DirArgument(Utf8ToUtf16(folder)))).dir),
            folder);
}

// The copy started as administrator gets every switch of the run. Each argument is quoted by
// the system's rules (as CommandLineToArgvW reads them back), and this parser reads the same
// values from the line: blanks, '%' and trailing separators survive.
TEST(CommandLineSwitches, TheRelaunchCarriesEverySwitchQuoted) {
    EXPECT_EQ(QuoteArgument("/SILENT"), "/SILENT");
    EXPECT_EQ(QuoteArgument(""), "\"\"");
    EXPECT_EQ(QuoteArgument("C:\\Mijn Kelvaro"), "\"C:\\Mijn Kelvaro\"");
    EXPECT_EQ(QuoteArgument("C:\\Mijn Kelvaro\\"), "\"C:\\Mijn Kelvaro\\\\\"");
    EXPECT_EQ(QuoteArgument("zeg \"ja\""), "\"zeg \\\"ja\\\"\"");
    EXPECT_EQ(QuoteArgument("a\\\\\"b c"), "\"a\\\\\\\\\\\"b c\"");
    EXPECT_EQ(QuoteArgument("100%"), "100%");

    CommandLine run;
    run.silent = true;
    run.noStart = true;
    run.dir = u"C:\\Program Files (x86)\\Kelvaro %VERSIE%\\";
    run.log = u"C:\\Beheer\\logs 2026\\update.log";
    const std::string line = Utf16ToUtf8(klv::app::RelaunchArguments(run));
    EXPECT_EQ(line, "/SILENT /NOSTART \"/LOG=C:\\Beheer\\logs 2026\\update.log\" "
                    "\"/DIR=C:\\Program Files (x86)\\Kelvaro %VERSIE%\" /ELEVATED");
    const CommandLine back = ParseCommandLine(line);
    EXPECT_TRUE(back.Ok());
    EXPECT_TRUE(back.silent && back.noStart && back.elevated && !back.verySilent);
    EXPECT_EQ(Narrow(back.dir), "C:\\Program Files (x86)\\Kelvaro %VERSIE%");
    EXPECT_EQ(Narrow(back.log), "C:\\Beheer\\logs 2026\\update.log");

    CommandLine root;
    root.verySilent = true;
    root.dir = u"D:\\";
    const CommandLine rootBack = ParseCommandLine(Utf16ToUtf8(klv::app::RelaunchArguments(root)));
    EXPECT_TRUE(rootBack.verySilent && rootBack.elevated && !rootBack.log);
    EXPECT_EQ(Narrow(rootBack.dir), "D:\\.");
}

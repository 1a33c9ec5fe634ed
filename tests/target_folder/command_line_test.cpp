// The command line's switches: every form the parser must take or report.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "platform/text.h"

using klv::app::ArgumentsOf;
using klv::app::CommandLine;
using klv::app::DirArgument;
using klv::app::ParseCommandLine;
using klv::app::QuoteArgument;
using klv::app::RelaunchArguments;

namespace {

using Strings = std::vector<std::u16string>;

struct Case {
    const char16_t* arguments;
    bool verySilent, silent, noStart, help;
    const char16_t* dir; // nullptr: none
    const char16_t* log;
    Strings unknown, malformed;
};

} // namespace

TEST(CommandLineSwitches, EveryFormTakenOrReported) {
    const Case cases[] = {
        {u"", false, false, false, false, nullptr, nullptr, {}, {}},
        {u"/VERYSILENT /nostart", true, false, true, false, nullptr, nullptr, {}, {}},
        {u"  /Silent\t/?  ", false, true, false, true, nullptr, nullptr, {}, {}},
        {u"/DIR=\"C:\\Mijn Kelvaro\" /log=\"C:\\temp\\upd.log\"",
         false,
         false,
         false,
         false,
         u"C:\\Mijn Kelvaro",
         u"C:\\temp\\upd.log",
         {},
         {}},
        {u"/dir=D:\\Kelvaro3", false, false, false, false, u"D:\\Kelvaro3", nullptr, {}, {}},
        // A folder ending in a backslash keeps it; quotes may sit anywhere in the value.
        {u"/DIR=\"C:\\Kelvaro\\\"", false, false, false, false, u"C:\\Kelvaro\\", nullptr, {}, {}},
        {u"\"/DIR=C:\\Program Files\\Kelvaro\"",
         false,
         false,
         false,
         false,
         u"C:\\Program Files\\Kelvaro",
         nullptr,
         {},
         {}},
        // Unknown: not a switch of the installer, or a known name with more letters; every
        // one is reported. Other installers' habits are taken (and logged).
        {u"/sp- /VERYSILENTX setup.ini /NORESTART=1 /SUPPRESSMSGBOXES",
         false,
         false,
         false,
         false,
         nullptr,
         nullptr,
         {u"/VERYSILENTX", u"setup.ini"},
         {u"/NORESTART=1"}},
        // Any name: the line is UTF-16.
        {u"/LOG=C:\\Beheer\\\u0436\u0443\u0440\u043D\u0430\u043B.log",
         false,
         false,
         false,
         false,
         nullptr,
         u"C:\\Beheer\\\u0436\u0443\u0440\u043D\u0430\u043B.log",
         {},
         {}},
        // Malformed: no value, an empty one, a value on a plain switch, an open quote.
        {u"/DIR /LOG= /SILENT=1 /DIR=\"C:\\Kel",
         false,
         false,
         false,
         false,
         nullptr,
         nullptr,
         {},
         {u"/DIR", u"/LOG=", u"/SILENT=1", u"/DIR=\"C:\\Kel"}},
        {u"/DIR=\"\"", false, false, false, false, nullptr, nullptr, {}, {u"/DIR=\"\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(klv::platform::Utf16ToUtf8(c.arguments));
        const CommandLine r = ParseCommandLine(c.arguments);
        EXPECT_EQ(r.verySilent, c.verySilent);
        EXPECT_EQ(r.silent, c.silent);
        EXPECT_EQ(r.noStart, c.noStart);
        EXPECT_EQ(r.help, c.help);
        EXPECT_EQ(r.dir.value_or(u"<none>"), c.dir ? c.dir : u"<none>");
        EXPECT_EQ(r.log.value_or(u"<none>"), c.log ? c.log : u"<none>");
        EXPECT_EQ(r.unknown, c.unknown);
        EXPECT_EQ(r.malformed, c.malformed);
        EXPECT_EQ(r.Ok(), c.unknown.empty() && c.malformed.empty());
        EXPECT_EQ(r.accepted.size(),
                  std::u16string_view(c.arguments).starts_with(u"/sp-") ? 2u : 0u);
    }
}

TEST(CommandLineSwitches, TheRelaunchArgumentParsesBack) {
    EXPECT_EQ(ArgumentsOf(u"\"C:\\Users\\Jan\\Downloads\\klv update.exe\" /DIR=\"C:\\K 3\""),
              u"/DIR=\"C:\\K 3\"");
    EXPECT_EQ(ArgumentsOf(u"klvupgrade.exe  /SILENT"), u"/SILENT");
    EXPECT_EQ(ArgumentsOf(u"klvupgrade.exe"), u"");
    for (const char16_t* folder : {u"C:\\Program Files (x86)\\Kelvaro", u"C:\\Kelvaro3\\", u"D:\\"})
        EXPECT_EQ(ParseCommandLine(DirArgument(folder)).dir.value_or(u""), folder);
}

// The copy started as administrator gets every switch of the run. Each argument is quoted by
// the system's rules (as CommandLineToArgvW reads them back), and this parser reads the same
// values from the line: blanks, '%' and trailing separators survive.
TEST(CommandLineSwitches, TheRelaunchCarriesEverySwitchQuoted) {
    EXPECT_EQ(QuoteArgument(u"/SILENT"), u"/SILENT");
    EXPECT_EQ(QuoteArgument(u""), u"\"\"");
    EXPECT_EQ(QuoteArgument(u"C:\\Mijn Kelvaro"), u"\"C:\\Mijn Kelvaro\"");
    EXPECT_EQ(QuoteArgument(u"C:\\Mijn Kelvaro\\"), u"\"C:\\Mijn Kelvaro\\\\\"");
    EXPECT_EQ(QuoteArgument(u"zeg \"ja\""), u"\"zeg \\\"ja\\\"\"");
    EXPECT_EQ(QuoteArgument(u"a\\\\\"b c"), u"\"a\\\\\\\\\\\"b c\"");
    EXPECT_EQ(QuoteArgument(u"100%"), u"100%");

    CommandLine run;
    run.silent = true;
    run.noStart = true;
    run.dir = u"C:\\Program Files (x86)\\Kelvaro %VERSIE%\\";
    run.log = u"C:\\Beheer\\logs 2026\\update.log";
    const std::u16string line = RelaunchArguments(run);
    EXPECT_EQ(line, u"/SILENT /NOSTART \"/LOG=C:\\Beheer\\logs 2026\\update.log\" "
                    u"\"/DIR=C:\\Program Files (x86)\\Kelvaro %VERSIE%\" /ELEVATED");
    const CommandLine back = ParseCommandLine(line);
    EXPECT_TRUE(back.Ok());
    EXPECT_TRUE(back.silent && back.noStart && back.elevated && !back.verySilent);
    EXPECT_EQ(back.dir.value_or(u""), u"C:\\Program Files (x86)\\Kelvaro %VERSIE%");
    EXPECT_EQ(back.log.value_or(u""), u"C:\\Beheer\\logs 2026\\update.log");

    CommandLine root;
    root.verySilent = true;
    root.dir = u"D:\\";
    const CommandLine rootBack = ParseCommandLine(RelaunchArguments(root));
    EXPECT_TRUE(rootBack.verySilent && rootBack.elevated && !rootBack.log);
    EXPECT_EQ(rootBack.dir.value_or(u""), u"D:\\.");
}

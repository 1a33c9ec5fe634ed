#include "app/command_line.h"

namespace klv::app {

namespace {

bool Blank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string Upper(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return out;
}

// One switch of the installer: a plain one sets `flag`, one with a value sets `text`; with
// neither it is taken and changes nothing, `note` saying why. A new switch is one more row.
struct SwitchRule {
    std::u16string_view name; // in capitals, without '=' and value
    bool CommandLine::*flag = nullptr;
    std::optional<std::u16string> CommandLine::*text = nullptr;
    std::string_view note = {};
};

constexpr SwitchRule kSwitches[] = {
    {u"/VERYSILENT", &CommandLine::verySilent},
    {u"/SILENT", &CommandLine::silent},
    {u"/NOSTART", &CommandLine::noStart},
    {u"/?", &CommandLine::help},
    {u"/ELEVATED", &CommandLine::elevated},
    {u"/CLOSEAPPLICATIONS", &CommandLine::closeApplications},
    {u"/DIR", nullptr, &CommandLine::dir},
    {u"/LOG", nullptr, &CommandLine::log},
    {u"/SUPPRESSMSGBOXES", nullptr, nullptr,
     "accepted, changes nothing: /SILENT and /VERYSILENT show no box and take the safe answer "
     "to every question"},
    {u"/NORESTART", nullptr, nullptr,
     "accepted, changes nothing: the installer never restarts the computer"},
    {u"/SP-", nullptr, nullptr,
     "accepted, changes nothing: the installer asks no question before its window"},
    {u"/NOCANCEL", nullptr, nullptr,
     "accepted, changes nothing: /SILENT and /VERYSILENT offer nothing to cancel"},
    {u"/NORESTARTAPPLICATIONS", nullptr, nullptr,
     "accepted, changes nothing: the installer restarts no other program"},
};

struct Token {
    std::u16string raw;   // as written, for the reports
    std::u16string value; // quotes removed
    bool openQuote = false;
};

// Arguments separated by blanks outside double quotes; a quote only groups, backslashes are
// plain characters (a folder may end in one: /DIR="C:\Kelvaro\").
std::vector<Token> Split(std::u16string_view text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && Blank(text[i]))
            ++i;
        if (i == text.size()) break;
        Token t;
        bool quoted = false;
        const std::size_t start = i;
        for (; i < text.size() && (quoted || !Blank(text[i])); ++i) {
            if (text[i] == u'"')
                quoted = !quoted;
            else
                t.value += text[i];
        }
        t.raw = std::u16string(text.substr(start, i - start));
        t.openQuote = quoted;
        tokens.push_back(std::move(t));
    }
    return tokens;
}

} // namespace

CommandLine ParseCommandLine(std::u16string_view arguments) {
    CommandLine result;
    for (const Token& t : Split(arguments)) {
        const std::size_t equals = t.value.find(u'=');
        const std::u16string name = Upper(std::u16string_view(t.value).substr(0, equals));
        const bool hasValue = equals != std::u16string::npos;
        const std::u16string value = hasValue ? t.value.substr(equals + 1) : std::u16string();
        const SwitchRule* rule = nullptr;
        for (const SwitchRule& r : kSwitches)
            if (r.name == name) rule = &r;
        if (!rule) {
            result.unknown.push_back(t.raw);
        } else if (t.openQuote || (!rule->text && hasValue) || (rule->text && value.empty())) {
            result.malformed.push_back(t.raw);
        } else if (rule->flag) {
            result.*(rule->flag) = true;
        } else if (rule->text) {
            result.*(rule->text) = value;
        } else {
            result.accepted.push_back({t.raw, rule->note});
        }
    }
    return result;
}

std::u16string_view ArgumentsOf(std::u16string_view commandLine) {
    std::size_t i = 0;
    while (i < commandLine.size() && Blank(commandLine[i]))
        ++i;
    if (i < commandLine.size() && commandLine[i] == u'"') {
        const std::size_t close = commandLine.find(u'"', i + 1);
        i = close == std::u16string_view::npos ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && !Blank(commandLine[i]))
            ++i;
    }
    while (i < commandLine.size() && Blank(commandLine[i]))
        ++i;
    return commandLine.substr(i);
}

std::u16string DirArgument(std::u16string_view folder) {
    return u"/DIR=\"" + std::u16string(folder) + u"\"";
}

std::u16string QuoteArgument(std::u16string_view argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string_view::npos)
        return std::u16string(argument);
    std::u16string quoted = u"\"";
    std::size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them: then each is doubled.
        quoted.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, u'\\');
    return quoted + u'"';
}

namespace {

// A path without its trailing separators; a drive's root as "X:\.".
std::u16string WithoutTrailingSeparators(std::u16string path) {
    while (!path.empty() && (path.back() == u'\\' || path.back() == u'/'))
        path.pop_back();
    if (path.size() == 2 && path[1] == u':') path += u"\\.";
    return path;
}

} // namespace

std::u16string RelaunchArguments(const CommandLine& run) {
    std::vector<std::u16string> arguments;
    if (run.verySilent) arguments.push_back(u"/VERYSILENT");
    if (run.silent && !run.verySilent) arguments.push_back(u"/SILENT");
    if (run.noStart) arguments.push_back(u"/NOSTART");
    if (run.closeApplications) arguments.push_back(u"/CLOSEAPPLICATIONS");
    if (run.log) arguments.push_back(QuoteArgument(u"/LOG=" + WithoutTrailingSeparators(*run.log)));
    if (run.dir) arguments.push_back(QuoteArgument(u"/DIR=" + WithoutTrailingSeparators(*run.dir)));
    arguments.push_back(u"/ELEVATED");
    std::u16string line;
    for (const std::u16string& argument : arguments)
        line += (line.empty() ? u"" : u" ") + argument;
    return line;
}

} // namespace klv::app

#include "app/command_line.h"

#include <cctype>

namespace klv::app {

namespace {

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct Token {
    std::string raw;   // as written, for the reports
    std::string value; // quotes removed
    bool openQuote = false;
};

// Arguments separated by blanks outside double quotes; a quote only groups, backslashes are
// plain characters (a folder may end in one: /DIR="C:\Kelvaro\").
std::vector<Token> Split(std::string_view text) {
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
            if (text[i] == '"')
                quoted = !quoted;
            else
                t.value += text[i];
        }
        t.raw = std::string(text.substr(start, i - start));
        t.openQuote = quoted;
        tokens.push_back(std::move(t));
    }
    return tokens;
}

} // namespace

CommandLine ParseCommandLine(std::string_view arguments) {
    CommandLine result;
    for (const Token& t : Split(arguments)) {
        const std::string upper = Upper(t.value);
        const std::size_t equals = upper.find('=');
        const std::string name = upper.substr(0, equals);
        const bool hasValue = equals != std::string::npos;
        const std::string value = hasValue ? t.value.substr(equals + 1) : std::string();
        bool* flag = name == "/VERYSILENT"          ? &result.verySilent
                     : name == "/SILENT"            ? &result.silent
                     : name == "/NOSTART"           ? &result.noStart
                     : name == "/?"                 ? &result.help
                     : name == "/ELEVATED"          ? &result.elevated
                     : name == "/CLOSEAPPLICATIONS" ? &result.closeApplications
                                                    : nullptr;
        std::optional<std::string>* text = name == "/DIR"   ? &result.dir
                                           : name == "/LOG" ? &result.log
                                                            : nullptr;
        if (!flag && !text) {
            result.unknown.push_back(t.raw);
        } else if (t.openQuote || (flag && hasValue) || (text && value.empty())) {
            result.malformed.push_back(t.raw);
        } else if (flag) {
            *flag = true;
        } else {
            *text = value;
        }
    }
    return result;
}

std::string_view ArgumentsOf(std::string_view commandLine) {
    std::size_t i = 0;
    while (i < commandLine.size() && Blank(commandLine[i]))
        ++i;
    if (i < commandLine.size() && commandLine[i] == '"') {
        const std::size_t close = commandLine.find('"', i + 1);
        i = close == std::string_view::npos ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && !Blank(commandLine[i]))
            ++i;
    }
    while (i < commandLine.size() && Blank(commandLine[i]))
        ++i;
    return commandLine.substr(i);
}

std::string DirArgument(std::string_view folder) {
    return "/DIR=\"" + std::string(folder) + "\"";
}

std::string QuoteArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos)
        return std::string(argument);
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them: then each is doubled.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + '"';
}

namespace {

// A path without its trailing separators; a drive's root as "X:\.".
std::string WithoutTrailingSeparators(std::string path) {
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    if (path.size() == 2 && path[1] == ':') path += "\\.";
    return path;
}

} // namespace

std::string RelaunchArguments(const CommandLine& run) {
    std::vector<std::string> arguments;
    if (run.verySilent) arguments.push_back("/VERYSILENT");
    if (run.silent && !run.verySilent) arguments.push_back("/SILENT");
    if (run.noStart) arguments.push_back("/NOSTART");
    if (run.closeApplications) arguments.push_back("/CLOSEAPPLICATIONS");
    if (run.log) arguments.push_back(QuoteArgument("/LOG=" + WithoutTrailingSeparators(*run.log)));
    if (run.dir) arguments.push_back(QuoteArgument("/DIR=" + WithoutTrailingSeparators(*run.dir)));
    arguments.push_back("/ELEVATED");
    std::string line;
    for (const std::string& argument : arguments)
        line += (line.empty() ? "" : " ") + argument;
    return line;
}

} // namespace klv::app

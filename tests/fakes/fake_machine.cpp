#include "fakes/fake_machine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/path_names.h"
#include "platform/text.h"

namespace klv::fakes {

using platform::AnsiToUtf16;
using platform::CreateResult;
using platform::FileEntry;
using platform::Utf16ToAnsi;

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// The folder part of a search pattern (with its separator) and the mask after it.
std::pair<std::u16string, std::u16string> SplitPattern(std::string_view pattern) {
    const std::u16string wide = AnsiToUtf16(pattern);
    const std::size_t cut = wide.find_last_of(u"\\/");
    if (cut == std::u16string::npos) return {};
    return {wide.substr(0, cut + 1), wide.substr(cut + 1)};
}

std::string KeyPath(std::string_view path) {
    std::string key(platform::PlainKeyPath(path));
    for (char& c : key)
        c = Upper(c);
    return key;
}

std::string ValueName(std::string_view name) {
    std::string n(name);
    for (char& c : n)
        c = Upper(c);
    return n;
}

// The fake's version block: a tag, the fixed part's length, the fixed part, the length of
// the translation table, the table.
constexpr std::uint32_t kVersionTag = 0x4B4C5646;
constexpr std::size_t kFixedAt = 8;
constexpr std::size_t kTableLengthAt = kFixedAt + sizeof(platform::FixedFileInfo);
constexpr std::size_t kTableAt = kTableLengthAt + 4;

std::uint32_t ReadU32(const void* block, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, static_cast<const char*>(block) + at, 4);
    return v;
}

class FakeKey final : public platform::RegistryKey {
  public:
    explicit FakeKey(const std::map<std::string, std::pair<bool, std::string>>& values)
        : values_(values) {}
    std::string ReadText(std::string_view name) override {
        auto it = values_.find(ValueName(name));
        if (it == values_.end()) return {};
        if (!it->second.first)
            throw platform::RegistryError("Invalid data type for '" + std::string(name) + "'");
        return it->second.second;
    }

  private:
    std::map<std::string, std::pair<bool, std::string>> values_;
};

class ListSearch final : public platform::DirectorySearch {
  public:
    explicit ListSearch(std::vector<platform::FolderEntry> entries)
        : entries_(std::move(entries)) {}
    bool Next(FileEntry& entry) override {
        if (next_ >= entries_.size()) return false;
        const platform::FolderEntry& found = entries_[next_++];
        entry = {Utf16ToAnsi(found.name), found.attributes, found.size};
        return true;
    }

  private:
    std::vector<platform::FolderEntry> entries_;
    std::size_t next_ = 0;
};

} // namespace

class FakeShellLink final : public platform::ShellLink {
  public:
    explicit FakeShellLink(FakeMachine& machine) : machine_(machine) {}
    std::int32_t SetArguments(std::string_view arguments) override {
        link_.arguments = std::string(arguments);
        machine_.journal.push_back("link SetArguments " + link_.arguments);
        return 0;
    }
    std::int32_t SetDescription(std::string_view description) override {
        link_.description = std::string(description);
        machine_.journal.push_back("link SetDescription " + link_.description);
        return 0;
    }
    std::int32_t SetPath(std::string_view target) override {
        link_.target = std::string(target);
        machine_.journal.push_back("link SetPath " + link_.target);
        return 0;
    }
    std::int32_t Save(const std::u16string& linkFile) override {
        std::string path = platform::Utf16ToAnsi(linkFile);
        machine_.journal.push_back("link Save " + path);
        return machine_.SaveLink(path, link_) ? 0 : -2147467259;
    }

  private:
    FakeMachine& machine_;
    FakeMachine::Link link_;
};

std::string CanonicalPath(std::string_view path) {
    std::string key(path);
    for (char& c : key)
        c = c == '/' ? '\\' : Upper(c);
    while (key.size() > 1 && key.back() == '\\' && !(key.size() == 3 && key[1] == ':'))
        key.pop_back();
    if (key.size() == 2 && key[1] == ':') key += '\\';
    return key;
}

FakeMachine::FakeMachine() {
    AddDrive('C', platform::dkFixed);
    platform::Services mine{this, this, this, this, this, this, this, this, this};
    previous_ = platform::InstallServices(mine);
}

FakeMachine::~FakeMachine() {
    platform::InstallServices(previous_);
}

// ---- staging ----

void FakeMachine::AddDrive(char letter, unsigned kind, bool ready) {
    letter = Upper(letter);
    drives_[letter] = Drive{kind, ready};
    if (kind == platform::dkCdRom) disk_.DenyWrites(AnsiToUtf16(std::string(1, letter) + ":\\"));
}

void FakeMachine::SetDriveReady(char letter, bool ready) {
    drives_.at(Upper(letter)).ready = ready;
}

void FakeMachine::RemoveDrive(char letter) {
    letter = Upper(letter);
    drives_.erase(letter);
    Remove(std::string(1, letter) + ":\\");
}

void FakeMachine::AddFolder(std::string_view path) {
    const std::string key = CanonicalPath(path);
    if (key.size() < 3 || key[1] != ':' || !drives_.count(key[0]))
        throw std::invalid_argument("fake machine: no drive for " + std::string(path));
    disk_.AddFolder(AnsiToUtf16(path));
}

void FakeMachine::AddFile(std::string_view path, std::int64_t size, std::uint32_t attributes) {
    const std::u16string wide = AnsiToUtf16(path);
    AddFolder(Utf16ToAnsi(platform::PathHead(wide, u"\\/")));
    disk_.Erase(wide);
    disk_.AddFile(wide, std::string(static_cast<std::size_t>(size), '\0'));
    disk_.Find(wide)->attributes = attributes & ~platform::faDirectory;
}

void FakeMachine::Remove(std::string_view path) {
    disk_.Erase(AnsiToUtf16(path));
}

void FakeMachine::LockFile(std::string_view path) {
    if (MemoryDisk::Entry* e = disk_.Find(AnsiToUtf16(path))) e->held = true;
}

void FakeMachine::RunProgram(std::string_view name, std::uint32_t process, std::string_view path,
                             bool refuses) {
    LockFile(path);
    programs_.push_back({std::string(name), CanonicalPath(path), process, refuses, true});
}

class FakeProgramSession final : public platform::ProgramSession {
  public:
    FakeProgramSession(FakeMachine& m, std::vector<std::string> files)
        : m_(m), files_(std::move(files)) {}
    std::vector<platform::HoldingProgram> Holders() override {
        std::vector<platform::HoldingProgram> holders;
        for (const FakeMachine::Program& p : m_.programs_)
            if (p.running && Holds(p)) holders.push_back({p.name, p.process});
        return holders;
    }
    int Close() override {
        int result = 0;
        for (FakeMachine::Program& p : m_.programs_) {
            if (!p.running || !Holds(p)) continue;
            m_.journal.push_back((p.refuses ? "refused " : "close ") + p.name);
            if (p.refuses) {
                result = 351; // ERROR_FAIL_SHUTDOWN
                continue;
            }
            p.running = false;
            closed_.push_back(static_cast<std::size_t>(&p - m_.programs_.data()));
        }
        for (const FakeMachine::Program& p : m_.programs_) {
            if (p.running || !Holds(p)) continue;
            const bool held = std::any_of(
                m_.programs_.begin(), m_.programs_.end(),
                [&](const FakeMachine::Program& o) { return o.running && o.file == p.file; });
            if (MemoryDisk::Entry* e = m_.disk_.Find(AnsiToUtf16(p.file))) e->held = held;
        }
        return result;
    }
    int Restart() override {
        for (std::size_t i : closed_) {
            FakeMachine::Program& p = m_.programs_[i];
            m_.journal.push_back("restart " + p.name);
            p.running = true;
            m_.LockFile(p.file);
        }
        closed_.clear();
        return 0;
    }

  private:
    bool Holds(const FakeMachine::Program& p) const {
        return std::find(files_.begin(), files_.end(), p.file) != files_.end();
    }
    FakeMachine& m_;
    std::vector<std::string> files_; // canonical
    std::vector<std::size_t> closed_;
};

std::unique_ptr<platform::ProgramSession>
FakeMachine::Session(const std::vector<std::string>& files) {
    std::vector<std::string> canonical;
    for (const std::string& file : files)
        canonical.push_back(CanonicalPath(file));
    return std::make_unique<FakeProgramSession>(*this, std::move(canonical));
}

void FakeMachine::SetShortName(std::string_view path, std::string_view shortName) {
    shortNames_[CanonicalPath(path)] = std::string(shortName);
}

void FakeMachine::SetSpecialFolder(int folder, std::string_view path) {
    special_[folder] = std::string(path);
}

void FakeMachine::SetRegistryText(platform::RootKey root, std::string_view key,
                                  std::string_view name, std::string_view value) {
    registry_[{static_cast<int>(root), KeyPath(key)}][ValueName(name)] =
        Value{true, std::string(value)};
}

void FakeMachine::SetRegistryNumber(platform::RootKey root, std::string_view key,
                                    std::string_view name, std::uint32_t value) {
    registry_[{static_cast<int>(root), KeyPath(key)}][ValueName(name)] =
        Value{false, std::to_string(value)};
}

void FakeMachine::AddRegistryKey(platform::RootKey root, std::string_view key) {
    registry_[{static_cast<int>(root), KeyPath(key)}];
}

void FakeMachine::SetExecutableFor(std::string_view extension, std::string_view program) {
    executables_[ValueName(extension)] = std::string(program);
}

void FakeMachine::FailNextShellLinks(int count, std::int32_t result) {
    linkFailures_ = count;
    linkFailure_ = result;
}

void FakeMachine::SetFileVersion(std::string_view path, std::uint32_t ms, std::uint32_t ls,
                                 std::vector<std::uint32_t> translations) {
    versions_[CanonicalPath(path)] = Version{true, ms, ls, std::move(translations)};
}

void FakeMachine::SetVersionWithoutFixedInfo(std::string_view path) {
    versions_[CanonicalPath(path)] = Version{false, 0, 0, {}};
}

// ---- inspection ----

bool FakeMachine::HasFile(std::string_view path) const {
    return disk_.IsFile(AnsiToUtf16(path));
}

bool FakeMachine::HasFolder(std::string_view path) const {
    return disk_.IsFolder(AnsiToUtf16(path));
}

std::optional<std::uint32_t> FakeMachine::AttributesOf(std::string_view path) const {
    return disk_.Attributes(AnsiToUtf16(path));
}

std::int64_t FakeMachine::SizeOf(std::string_view path) const {
    std::string data;
    if (!HasFile(path) || !disk_.Read(AnsiToUtf16(path), data).ok())
        return HasFolder(path) ? 0 : -1;
    return static_cast<std::int64_t>(data.size());
}

std::optional<FakeMachine::Link> FakeMachine::LinkAt(std::string_view path) const {
    auto it = links_.find(CanonicalPath(path));
    if (it == links_.end() || !HasFile(path)) return std::nullopt;
    return it->second;
}

// ---- drives ----

const FakeMachine::Drive* FakeMachine::ReachableDrive(std::string_view path) {
    if (path.size() < 2 || path[1] != ':') return nullptr;
    auto it = drives_.find(Upper(path[0]));
    if (it == drives_.end()) return nullptr;
    if (!it->second.ready) {
        if (!(errorMode & platform::emFailCriticalErrors)) ++systemErrorBoxes;
        return nullptr;
    }
    return &it->second;
}

bool FakeMachine::CanWriteIn(std::string_view folder) {
    journal.push_back("probe " + std::string(folder));
    return HasFolder(folder) && ReachableDrive(folder) && disk_.TakesNewFiles(AnsiToUtf16(folder));
}

void FakeMachine::DenyWrites(std::string_view folder) {
    disk_.DenyWrites(AnsiToUtf16(folder));
}

std::uint32_t FakeMachine::LogicalDrives() {
    std::uint32_t bits = 0;
    for (const auto& [letter, drive] : drives_)
        if (letter >= 'A' && letter <= 'Z') bits |= 1u << (letter - 'A');
    return bits;
}

unsigned FakeMachine::DriveType(std::string_view root) {
    if (root.size() != 3 || root[1] != ':' || root[2] != '\\') return platform::dkNoRootDir;
    auto it = drives_.find(Upper(root[0]));
    return it == drives_.end() ? platform::dkNoRootDir : it->second.kind;
}

std::int64_t FakeMachine::DiskSize(int drive) {
    if (drive < 1 || drive > 26) return -1;
    std::string root = std::string(1, static_cast<char>('A' + drive - 1)) + ":\\";
    return ReachableDrive(root) ? std::int64_t{1} << 30 : -1;
}

unsigned FakeMachine::ExchangeErrorMode(unsigned mode) {
    unsigned previous = errorMode;
    errorMode = mode;
    return previous;
}

// ---- files ----

std::string FakeMachine::FullPath(std::string_view path) {
    if (path.empty()) return {};
    std::string p(path);
    for (char& c : p)
        if (c == '/') c = '\\';
    if (p.starts_with("\\\\")) return p;
    std::string full;
    if (p.size() >= 2 && p[1] == ':') {
        if (p.size() >= 3 && p[2] == '\\')
            full = p;
        else if (Upper(current_[0]) == Upper(p[0]))
            full = current_ + "\\" + p.substr(2);
        else
            full = p.substr(0, 2) + "\\" + p.substr(2);
    } else if (p[0] == '\\') {
        full = current_.substr(0, 2) + p;
    } else {
        full = current_ + "\\" + p;
    }
    // Resolve "." and "..", drop empty parts; keep a trailing backslash.
    bool trailing = full.back() == '\\';
    std::vector<std::string> parts;
    std::size_t at = 3;
    while (at <= full.size()) {
        auto end = full.find('\\', at);
        if (end == std::string::npos) end = full.size();
        std::string part = full.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string result = full.substr(0, 3);
    for (std::size_t i = 0; i < parts.size(); ++i)
        result += (i ? "\\" : "") + parts[i];
    if (trailing && !parts.empty()) result += '\\';
    return result;
}

bool FakeMachine::FileExists(std::string_view path) {
    return ReachableDrive(path) && HasFile(path);
}

bool FakeMachine::FolderExists(std::string_view path) {
    return ReachableDrive(path) && HasFolder(path);
}

bool FakeMachine::SetAttributes(std::string_view path, std::uint32_t attributes) {
    if (!ReachableDrive(path) || !disk_.SetAttributes(AnsiToUtf16(path), attributes).ok())
        return false;
    journal.push_back("attributes " + std::string(path) + " " + Hex(attributes));
    return true;
}

std::unique_ptr<platform::DirectorySearch> FakeMachine::Search(std::string_view pattern) {
    if (!ReachableDrive(pattern)) return nullptr;
    const auto [folder, mask] = SplitPattern(pattern);
    if (folder.empty()) return nullptr;
    std::vector<platform::FolderEntry> found = disk_.Search(folder, mask);
    if (found.empty()) return nullptr;
    return std::make_unique<ListSearch>(std::move(found));
}

CreateResult FakeMachine::MakeFile(std::string_view path, bool replace) {
    const std::u16string wide = AnsiToUtf16(path);
    platform::DiskStatus status;
    if (!ReachableDrive(path)) return CreateResult::Failed;
    if (!disk_.Create(wide, status)) {
        if (status.failure == platform::DiskFailure::Denied || !disk_.IsFile(wide))
            return CreateResult::Failed;
        if (!replace) return CreateResult::AlreadyExists;
        const auto file = disk_.Extend(wide, status);
        if (!file || !file->SetSize(0).ok()) return CreateResult::Failed;
    }
    journal.push_back("create " + std::string(path));
    return CreateResult::Created;
}

bool FakeMachine::OpenForWriting(std::string_view path) {
    journal.push_back("open for writing " + std::string(path));
    platform::DiskStatus status;
    return ReachableDrive(path) && disk_.Extend(AnsiToUtf16(path), status) != nullptr;
}

bool FakeMachine::RemoveFile(std::string_view path) {
    if (!ReachableDrive(path) || !disk_.RemoveFile(AnsiToUtf16(path)).ok()) return false;
    links_.erase(CanonicalPath(path));
    journal.push_back("remove " + std::string(path));
    return true;
}

std::string FakeMachine::ShortName(std::string_view path) {
    if (!ReachableDrive(path) || disk_.Kind(AnsiToUtf16(path)) == platform::EntryKind::Missing)
        return {};
    auto it = shortNames_.find(CanonicalPath(path));
    return it == shortNames_.end() ? std::string(path) : it->second;
}

// ---- registry and folders ----

std::unique_ptr<platform::RegistryKey>
FakeMachine::OpenKey(platform::RootKey root, std::string_view path, platform::KeyAccess access) {
    if (access == platform::KeyAccess::Full && denied_[static_cast<int>(root)]) return nullptr;
    auto it = registry_.find({static_cast<int>(root), KeyPath(path)});
    if (it == registry_.end()) return nullptr;
    std::map<std::string, std::pair<bool, std::string>> values;
    for (const auto& [name, value] : it->second)
        values[name] = {value.text, value.data};
    return std::make_unique<FakeKey>(values);
}

std::string FakeMachine::SpecialFolder(int folder) {
    auto it = special_.find(folder);
    return it == special_.end() ? std::string() : it->second;
}

// ---- shell ----

std::intptr_t FakeMachine::Execute(platform::WindowHandle owner, std::string_view verb,
                                   std::string_view file, std::string_view parameters,
                                   std::string_view folder, int show) {
    executions.push_back(Execution{owner, std::string(verb), std::string(file),
                                   std::string(parameters), std::string(folder), show});
    journal.push_back("execute " + std::string(file));
    return executeResult_;
}

std::optional<int> FakeMachine::RunElevatedAndWait(platform::WindowHandle owner,
                                                   std::string_view file,
                                                   std::u16string_view parameters) {
    executions.push_back(Execution{owner, "runas", std::string(file),
                                   platform::Utf16ToUtf8(parameters), std::string(),
                                   platform::swShow});
    journal.push_back("run as administrator and wait " + std::string(file));
    return elevatedResult_;
}

std::string FakeMachine::ExecutableFor(std::string_view file) {
    journal.push_back("find executable " + std::string(file));
    if (!FileExists(file)) return {};
    const std::string key = CanonicalPath(file);
    std::string name = key.substr(key.rfind('\\') + 1);
    auto dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    auto it = executables_.find(name.substr(dot));
    return it == executables_.end() ? std::string() : it->second;
}

std::unique_ptr<platform::ShellLink> FakeMachine::NewShellLink() {
    if (linkFailures_ > 0) {
        --linkFailures_;
        journal.push_back("link failed");
        throw platform::ShellLinkError("The shell link object cannot be created", linkFailure_);
    }
    return std::make_unique<FakeShellLink>(*this);
}

bool FakeMachine::SaveLink(const std::string& path, const Link& link) {
    const std::u16string wide = AnsiToUtf16(path);
    platform::DiskStatus status;
    if (!ReachableDrive(path) || disk_.IsFolder(wide)) return false;
    if (disk_.IsFile(wide) && !disk_.RemoveFile(wide).ok()) return false;
    const auto file = disk_.Create(wide, status);
    if (!file || !file->Write(std::string(512, '\0')).ok()) return false;
    links_[CanonicalPath(path)] = link;
    return true;
}

// ---- version resources ----

std::uint32_t FakeMachine::InfoSize(std::string_view file, std::uint32_t& handle) {
    handle = 0;
    auto it = versions_.find(CanonicalPath(file));
    if (it == versions_.end() || !HasFile(file)) return 0;
    return static_cast<std::uint32_t>(kTableAt + 4 * it->second.translations.size());
}

bool FakeMachine::ReadInfo(std::string_view file, std::uint32_t, std::uint32_t size, void* block) {
    auto it = versions_.find(CanonicalPath(file));
    if (failVersionReads_ || it == versions_.end()) return false;
    const Version& v = it->second;
    std::vector<char> data(kTableAt + 4 * v.translations.size(), '\0');
    if (size < data.size()) return false;
    std::uint32_t fixedLength = v.hasFixed ? sizeof(platform::FixedFileInfo) : 0;
    platform::FixedFileInfo info{};
    info.signature = 0xFEEF04BD;
    info.structVersion = 0x10000;
    info.fileVersionMS = v.ms;
    info.fileVersionLS = v.ls;
    auto tableLength = static_cast<std::uint32_t>(4 * v.translations.size());
    std::memcpy(data.data(), &kVersionTag, 4);
    std::memcpy(data.data() + 4, &fixedLength, 4);
    std::memcpy(data.data() + kFixedAt, &info, sizeof info);
    std::memcpy(data.data() + kTableLengthAt, &tableLength, 4);
    if (tableLength) std::memcpy(data.data() + kTableAt, v.translations.data(), tableLength);
    std::memcpy(block, data.data(), data.size());
    return true;
}

bool FakeMachine::QueryValue(const void* block, std::string_view subBlock, const void*& value,
                             std::uint32_t& length) {
    value = nullptr;
    length = 0;
    if (!block || ReadU32(block, 0) != kVersionTag) return false;
    if (subBlock == "\\" && ReadU32(block, 4) != 0) {
        value = static_cast<const char*>(block) + kFixedAt;
        length = ReadU32(block, 4);
    } else if (subBlock == "\\VarFileInfo\\Translation" && ReadU32(block, kTableLengthAt) != 0) {
        value = static_cast<const char*>(block) + kTableAt;
        length = ReadU32(block, kTableLengthAt);
    }
    return value != nullptr;
}

// ---- keyboard and window system ----

std::int16_t FakeMachine::AsyncKeyState(int key) {
    auto it = keyStates_.find(key);
    return it == keyStates_.end() ? 0 : it->second;
}

int FakeMachine::ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) {
    int answer = defaultAnswer;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    boxes.push_back(Box{std::string(text), std::string(caption), flags, answer});
    journal.push_back("box");
    return answer;
}

void FakeMachine::SetCursorShape(platform::Cursor cursor) {
    cursors.push_back(cursor);
    journal.push_back(cursor == platform::Cursor::HourGlass ? "cursor hourglass" : "cursor normal");
}

} // namespace klv::fakes

// The system's disk: the file services of this platform behind the Disk interface, and the
// tree operations built on any Disk.
#include "platform/disk.h"

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/path_names.h"
#include "platform/tree_files.h"

namespace klv::platform {

DiskStatus DiskStatus::Failed(int code) {
    return {FailureOf(code), code};
}

namespace {

DiskStatus Result(bool done) {
    return done ? DiskStatus{} : DiskStatus::Failed(LastSystemError());
}

class SystemFile final : public DiskFile {
  public:
    SystemFile(std::unique_ptr<FileStream> stream, std::int64_t end)
        : stream_(std::move(stream)), end_(end) {}
    DiskStatus Write(std::string_view bytes) override {
        const DiskStatus status = WriteAt(end_, bytes);
        if (status.ok()) end_ += static_cast<std::int64_t>(bytes.size());
        return status;
    }
    DiskStatus WriteAt(std::int64_t offset, std::string_view bytes) override {
        const auto size = static_cast<std::int64_t>(bytes.size());
        stream_->Seek(offset);
        const std::int64_t written = stream_->Write(bytes.data(), size);
        if (written == size) return {};
        return DiskStatus::Failed(written < 0 ? stream_->LastError() : 0);
    }
    DiskStatus SetSize(std::int64_t size) override {
        return stream_->SetSize(size) ? DiskStatus{} : DiskStatus::Failed(stream_->LastError());
    }
    DiskStatus Flush() override {
        return stream_->Flush() ? DiskStatus{} : DiskStatus::Failed(stream_->LastError());
    }
    DiskStatus SetDosStamp(std::uint32_t stamp) override {
        return stream_->SetDosStamp(stamp) ? DiskStatus{}
                                           : DiskStatus::Failed(stream_->LastError());
    }
    DiskStatus SetAttributes(std::uint32_t attributes) override {
        return Result(stream_->SetAttributes(attributes));
    }
    std::int64_t Size() override { return stream_->Size(); }

  private:
    std::unique_ptr<FileStream> stream_;
    std::int64_t end_;
};

class SystemDiskImpl final : public Disk {
  public:
    std::vector<FolderEntry> Search(const std::u16string& folder,
                                    std::u16string_view mask) override {
        return SearchFolder(folder, mask);
    }
    bool TakesNewFiles(const std::u16string& folder) override {
        return platform::TakesNewFiles(folder);
    }
};

std::u16string WithoutSeparator(std::u16string path) {
    while (path.size() > 1 && (path.back() == u'\\' || path.back() == u'/'))
        path.pop_back();
    return path;
}

} // namespace

std::unique_ptr<DiskFile> Disk::Create(const std::u16string& path, DiskStatus& status) {
    int error = 0;
    auto stream = FileStream::CreateNew(path, error);
    if (!stream) {
        status = DiskStatus::Failed(error);
        return nullptr;
    }
    status = {};
    return std::make_unique<SystemFile>(std::move(stream), 0);
}

std::unique_ptr<DiskFile> Disk::Extend(const std::u16string& path, DiskStatus& status) {
    int error = 0;
    auto stream = FileStream::Open(path, fmOpenWrite | fmShareDenyNone, error);
    if (!stream) {
        status = DiskStatus::Failed(error);
        return nullptr;
    }
    const std::int64_t end = stream->Size();
    if (end < 0) {
        status = DiskStatus::Failed(LastSystemError());
        return nullptr;
    }
    status = {};
    return std::make_unique<SystemFile>(std::move(stream), end);
}

DiskStatus Disk::Move(const std::u16string& from, const std::u16string& to) {
    return Result(MoveReplacing(from, to));
}

DiskStatus Disk::RemoveFile(const std::u16string& path) {
    return Result(platform::RemoveFile(path));
}

DiskStatus Disk::MakeFolder(const std::u16string& path) {
    return Result(platform::MakeFolder(path));
}

DiskStatus Disk::RemoveFolder(const std::u16string& path) {
    return Result(RemoveEmptyFolder(path));
}

DiskStatus Disk::SetAttributes(const std::u16string& path, std::uint32_t attributes) {
    return Result(SetAttributesOf(path, attributes));
}

bool Disk::IsFile(const std::u16string& path) {
    return FileExists(path);
}

bool Disk::IsFolder(const std::u16string& path) {
    return DirectoryExists(path);
}

EntryKind Disk::Kind(const std::u16string& path) {
    return KindOf(path);
}

std::vector<FolderEntry> Disk::List(const std::u16string& folder) {
    return ListFolder(folder);
}

std::optional<std::uint64_t> Disk::FreeBytes(const std::u16string& folder) {
    return platform::FreeBytes(folder);
}

FileUse Disk::Use(const std::u16string& path) {
    return ProbeFileUse(path);
}

std::vector<std::string> Disk::Holders(const std::u16string& path) {
    return FileHolders(path);
}

DiskStatus Disk::Read(const std::u16string& path, std::string& data) {
    int error = 0;
    return ReadWholeFile(path, data, error) ? DiskStatus{} : DiskStatus::Failed(error);
}

bool Disk::AdministratorOwns(const std::u16string& path) {
    return OwnedByAdministrator(path);
}

bool Disk::IsRegularFile(const std::u16string& path) {
    return platform::IsRegularFile(path);
}

DiskStatus Disk::ReadHead(const std::u16string& path, std::size_t bytes, std::string& data) {
    int error = 0;
    const auto stream = FileStream::Open(path, fmOpenRead | fmShareDenyNone, error);
    if (!stream) return DiskStatus::Failed(error);
    std::string head(bytes, '\0');
    const std::int64_t got = stream->Read(head.data(), static_cast<std::int64_t>(bytes));
    if (got < 0) return DiskStatus::Failed(stream->LastError());
    data.append(head, 0, static_cast<std::size_t>(got));
    return {};
}

std::optional<std::uint32_t> Disk::Attributes(const std::u16string& path) {
    return AttributesOf(path);
}

std::optional<std::uint32_t> Disk::DosStamp(const std::u16string& path) {
    return DosStampOf(path);
}

bool Disk::IsRemovable(const std::u16string& path) {
    return IsRemovableDrive(path);
}

std::u16string Disk::FullPath(const std::u16string& path) {
    return FullPathOf(path);
}

std::vector<FolderEntry> Disk::Search(const std::u16string& folder, std::u16string_view mask) {
    std::vector<FolderEntry> found;
    for (FolderEntry& entry : List(folder))
        if (MaskMatches(mask, entry.name)) found.push_back(std::move(entry));
    return found;
}

bool Disk::TakesNewFiles(const std::u16string& folder) {
    std::u16string probe = folder;
    if (!probe.empty() && probe.back() != u'\\' && probe.back() != u'/') probe += u'\\';
    probe += u"~klvupgrade.probe";
    DiskStatus status;
    if (!Create(probe, status)) return false;
    RemoveFile(probe);
    return true;
}

Disk& SystemDisk() {
    static SystemDiskImpl disk;
    return disk;
}

DiskStatus MakeFolders(Disk& disk, const std::u16string& path) {
    const std::u16string folder = WithoutSeparator(path);
    if (disk.IsFolder(folder)) return {};
    const std::u16string parent(PathHead(folder, u"\\/"));
    if (!parent.empty() && parent != folder) {
        if (const DiskStatus status = MakeFolders(disk, parent); !status.ok()) return status;
    }
    return disk.MakeFolder(folder);
}

std::optional<std::u16string> PathBelow(Disk& disk, const std::u16string& folder,
                                        std::u16string_view name) {
    std::u16string path = folder + std::u16string(name);
    for (std::size_t at = folder.size(); at <= path.size(); ++at) {
        if (at < path.size() && path[at] != u'\\') continue;
        if (at == folder.size()) continue; // an empty part: nothing to test
        switch (disk.Kind(path.substr(0, at))) {
        case EntryKind::Link:
            return std::nullopt;
        case EntryKind::Missing:
            return path;
        case EntryKind::File:
        case EntryKind::Folder:
            break;
        }
    }
    return path;
}

bool RemoveTree(Disk& disk, const std::u16string& folder) {
    const std::u16string top = WithoutSeparator(folder);
    switch (disk.Kind(top)) {
    case EntryKind::Missing:
        return true;
    case EntryKind::File:
        return false; // not a folder: left alone
    case EntryKind::Link:
        return disk.RemoveFolder(top).ok() || disk.RemoveFile(top).ok();
    case EntryKind::Folder:
        break;
    }
    for (const FolderEntry& entry : disk.List(top)) {
        const std::u16string path = top + u'\\' + entry.name;
        if (entry.link) {
            // Removed itself: a folder link as a folder, a file link as a file.
            if (!disk.RemoveFolder(path).ok()) disk.RemoveFile(path);
        } else if (entry.folder) {
            RemoveTree(disk, path);
        } else if (!disk.RemoveFile(path).ok()) {
            disk.SetAttributes(path, 0x20);
            disk.RemoveFile(path);
        }
    }
    disk.RemoveFolder(top);
    return disk.Kind(top) == EntryKind::Missing;
}

} // namespace klv::platform

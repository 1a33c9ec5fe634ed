// The Win32 side of the disk: kinds and owners of entries without following reparse points,
// error codes, and the one-installer claim (a named mutex).
#include <windows.h>

#include <aclapi.h>

#include "platform/win32/open_handle.h"
#include "platform/win32/wide_path.h"

#include "platform/disk.h"

namespace klv::platform {

namespace {
class NamedMutex final : public InstallerClaim {
  public:
    explicit NamedMutex(HANDLE handle) : handle_(handle) {}
    ~NamedMutex() override {
        ReleaseMutex(handle_);
        CloseHandle(handle_);
    }

  private:
    HANDLE handle_;
};
} // namespace

EntryKind KindOf(const std::u16string& path) {
    // Without its trailing separators (a drive's root keeps its own).
    std::u16string own = path;
    while (own.size() > 3 && (own.back() == u'\\' || own.back() == u'/'))
        own.pop_back();
    const DWORD attributes = GetFileAttributesW(win32::WidePath(own).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
}

namespace {

// NT SERVICE\TrustedInstaller, the owner of the system's own files:
// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
bool IsTrustedInstaller(PSID sid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID trustedInstaller = nullptr;
    if (!AllocateAndInitializeSid(&nt, 6, SECURITY_SERVICE_ID_BASE_RID, 956008885, 3418522649,
                                  1831038044, 1853292631, 2271478464, 0, 0, &trustedInstaller))
        return false;
    const bool same = EqualSid(sid, trustedInstaller) != 0;
    FreeSid(trustedInstaller);
    return same;
}

} // namespace

bool OwnedByAdministrator(const std::u16string& path) {
    std::u16string own = path;
    while (own.size() > 3 && (own.back() == u'\\' || own.back() == u'/'))
        own.pop_back();
    // The entry itself: a reparse point is opened, not what it points to.
    const HANDLE handle =
        win32::OpenHandle(own, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &descriptor);
    CloseHandle(handle);
    if (result != ERROR_SUCCESS) return false;
    const bool administrator =
        owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                  IsWellKnownSid(owner, WinLocalSystemSid) || IsTrustedInstaller(owner));
    LocalFree(descriptor);
    return administrator;
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

DiskFailure FailureOf(int code) {
    switch (code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return DiskFailure::InUse;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
        return DiskFailure::Denied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return DiskFailure::Full;
    default:
        return DiskFailure::Other;
    }
}

std::unique_ptr<InstallerClaim> ClaimInstaller() {
    // One name for every session: two users switching over one installation are two runs too.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\klvupgrade.run");
    if (!mutex) return nullptr; // held in another session, where this user may not open it
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return std::make_unique<NamedMutex>(mutex);
}

} // namespace klv::platform

#include "platform/machine.h"

#include <windows.h>

namespace klv::platform {

namespace {

std::u16string U16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// The version as the system gives it, not as the compatibility layer tells a program without
// a manifest entry for it (GetVersionEx).
std::u16string Version() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto get = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get || get(&info) != 0) return u"Windows, version unknown";
    return U16("Windows " + std::to_string(info.dwMajorVersion) + "." +
               std::to_string(info.dwMinorVersion) + " build " +
               std::to_string(info.dwBuildNumber));
}

bool Windows64() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           info.wProcessorArchitecture == 12; // PROCESSOR_ARCHITECTURE_ARM64
}

std::u16string Elevation() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return u"elevation unknown";
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool known =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
    CloseHandle(token);
    if (!known) return u"elevation unknown";
    return elevation.TokenIsElevated ? u"elevated" : u"not elevated";
}

} // namespace

std::u16string DescribeMachine() {
    std::u16string line = Version();
    line += Windows64() ? u", 64-bit Windows" : u", 32-bit Windows";
    wchar_t user[256 + 1];
    DWORD length = 256 + 1;
    line += u", user " + (GetUserNameW(user, &length) ? U16(std::wstring(user)) : u"unknown");
    line += u", " + Elevation();
    wchar_t temp[MAX_PATH + 1];
    const DWORD tempLength = GetTempPathW(MAX_PATH + 1, temp);
    line += u", temp " + (tempLength && tempLength <= MAX_PATH ? U16(std::wstring(temp, tempLength))
                                                               : std::u16string(u"unknown"));
    return line;
}

} // namespace klv::platform

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/kelvaro_view.h"
#include "platform/win32/real_services.h"

namespace klv::platform::win32 {

namespace {

class Key final : public RegistryKey {
  public:
    explicit Key(HKEY key) : key_(key) {}
    ~Key() override { RegCloseKey(key_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    std::string ReadText(std::string_view name) override {
        std::string valueName(name);
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(key_, valueName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            return {};
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw RegistryError("Invalid data type for '" + valueName + "'");
        std::vector<char> data(size + 1, '\0');
        LONG rc;
        do { // the value may grow between the two calls
            size = static_cast<DWORD>(data.size() - 1);
            rc = RegQueryValueExA(key_, valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
            if (rc == ERROR_MORE_DATA) data.assign(size + 1, '\0');
        } while (rc == ERROR_MORE_DATA);
        if (rc != ERROR_SUCCESS) return {};
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw RegistryError("Invalid data type for '" + valueName + "'");
        // The stored text may or may not carry its terminating NUL.
        std::string text(data.data(), size);
        if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
        return text;
    }

  private:
    HKEY key_;
};

class RealRegistryImpl final : public Registry {
  public:
    std::unique_ptr<RegistryKey> OpenKey(RootKey root, std::string_view path,
                                         KeyAccess access) override {
        HKEY base = root == RootKey::LocalMachine  ? HKEY_LOCAL_MACHINE
                    : root == RootKey::CurrentUser ? HKEY_CURRENT_USER
                                                   : HKEY_CLASSES_ROOT;
        std::string sub(PlainKeyPath(path));
        HKEY key = nullptr;
        REGSAM rights = access == KeyAccess::Full ? KEY_ALL_ACCESS : KEY_READ;
        if (root == RootKey::LocalMachine) rights |= kLocalMachineView;
        // The VirtualStore lies in the 64-bit view where there is one (ignored on 32-bit Windows).
        if (root == RootKey::CurrentUser) rights |= KEY_WOW64_64KEY;
        if (RegOpenKeyExA(base, sub.c_str(), 0, rights, &key) != ERROR_SUCCESS) return nullptr;
        return std::make_unique<Key>(key);
    }

    std::string VirtualStorePath(std::string_view machinePath) override {
        return VirtualStoreKeyOf(machinePath, RunsOn64BitWindows());
    }
};

} // namespace

Registry& RealRegistry() {
    static RealRegistryImpl registry;
    return registry;
}

} // namespace klv::platform::win32

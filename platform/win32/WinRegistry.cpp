// Registry under HKEY_LOCAL_MACHINE. Every operation opens the key it needs and closes it again; results
// are the system's error codes. The 32-bit view adds KEY_WOW64_32KEY (the release build, a 32-bit process,
// sees that view anyway on 64-bit Windows).
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/Platform.h"
#include "platform/win32/WinHandle.h"
#include "platform/win32/WinParts.h"

namespace plat::win {
namespace {

REGSAM View(bool view32) {
    return view32 ? KEY_WOW64_32KEY : 0;
}

class WinRegistry final : public Registry {
public:
    long CreateKey(const std::wstring& path, bool view32) override {
        ScopedKey key;
        return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_READ | KEY_WRITE | View(view32), nullptr, key.Receive(), nullptr);
    }

    bool KeyExists(const std::wstring& path, bool view32) override {
        ScopedKey key;
        return Open(path, KEY_READ, view32, key) == ERROR_SUCCESS;
    }

    long QueryValue(const std::wstring& path, const std::wstring& name, size_t maxBytes, RegValue& out,
                    bool view32) override {
        ScopedKey key;
        const long opened = Open(path, KEY_QUERY_VALUE, view32, key);
        if (opened != ERROR_SUCCESS) {
            return opened;
        }
        std::string buffer(std::min<size_t>(maxBytes, MAXDWORD), '\0');
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(buffer.size());
        const long result = ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type,
                                               reinterpret_cast<BYTE*>(&buffer[0]), &size);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        buffer.resize(std::min<size_t>(size, buffer.size()));
        out.type = static_cast<RegType>(type);
        out.data.swap(buffer);
        return ERROR_SUCCESS;
    }

    long SetValue(const std::wstring& path, const std::wstring& name, const RegValue& value,
                  bool view32) override {
        if (value.data.size() > MAXDWORD) {
            return ERROR_INVALID_PARAMETER;
        }
        ScopedKey key;
        const long opened = Open(path, KEY_SET_VALUE, view32, key);
        if (opened != ERROR_SUCCESS) {
            return opened;
        }
        // For a string value whose last character is not a null, RegSetValueExW looks at the character
        // after the data and, when that one is a null, stores it too, taking it for a terminator the count
        // left out. Bytes stored as a string ("Config") would come back two bytes longer: the data goes from
        // a copy followed by a character that is not a null, so that exactly these bytes are stored.
        // A string registered without its null (the RunOnce command) still gets one that way.
        std::string data = value.data;
        data.append(2, value.exactBytes ? '\xFF' : '\0');
        return ::RegSetValueExW(key.Get(), name.c_str(), 0, static_cast<DWORD>(value.type),
                                reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(value.data.size()));
    }

    long DeleteValue(const std::wstring& path, const std::wstring& name, bool view32) override {
        ScopedKey key;
        const long opened = Open(path, KEY_SET_VALUE, view32, key);
        if (opened != ERROR_SUCCESS) {
            return opened;
        }
        return ::RegDeleteValueW(key.Get(), name.c_str());
    }

    // RegDeleteKeyExW, which can name the view, is looked up at run time because older systems lack it;
    // without it RegDeleteKeyW deletes in the process's own view.
    long DeleteKey(const std::wstring& path, bool view32) override {
        using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
        const auto deleteKeyEx =
            GetProc<RegDeleteKeyExFn>(::GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW");
        if (deleteKeyEx != nullptr) {
            return deleteKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS | View(view32), 0);
        }
        return ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    }

private:
    static long Open(const std::wstring& path, REGSAM access, bool view32, ScopedKey& key) {
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | View(view32), key.Receive());
    }
};

} // namespace

std::unique_ptr<Registry> CreateRegistry() {
    return std::make_unique<WinRegistry>();
}

} // namespace plat::win

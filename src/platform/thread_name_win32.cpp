#include <windows.h>

#include <string>

#include "platform/thread_name.h"

namespace quiltra::platform {

void setCurrentThreadName(const char* name) {
    // SetThreadDescription exists from Windows 10 1607 on; older systems and Wine versions
    // without it simply keep the thread unnamed.
    using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto setDescription =
        reinterpret_cast<SetThreadDescriptionFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
    if (setDescription == nullptr) {
        return;
    }
    std::wstring wide(name, name + std::char_traits<char>::length(name));
    setDescription(GetCurrentThread(), wide.c_str());
}

}  // namespace quiltra::platform

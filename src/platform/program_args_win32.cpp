#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

#include "platform/program_args.h"
#include "platform/win32_text.h"

namespace gsms::program {

void utf8Arguments(int& argc, char**& argv) {
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr) return;  // the runtime's own reading stays
    auto* args = new std::vector<char*>;  // lives as long as the process
    for (int i = 0; i < n; ++i) {
        const std::string arg = win32::utf8(wide[i]);
        char* copy = new char[arg.size() + 1];
        std::memcpy(copy, arg.c_str(), arg.size() + 1);
        args->push_back(copy);
    }
    args->push_back(nullptr);
    LocalFree(wide);
    argc = n;
    argv = args->data();
}

std::optional<std::string> environment(const char* name) {
    const std::wstring key = win32::wide(name);
    const DWORD size = GetEnvironmentVariableW(key.c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD got = GetEnvironmentVariableW(key.c_str(), value.data(), size);
    value.resize(got < size ? got : 0);
    return win32::utf8(value);
}

}  // namespace gsms::program

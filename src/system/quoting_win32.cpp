// Commands for cmd.exe.
#include <windows.h>

#include <filesystem>
#include <system_error>

#include "system/files.h"
#include "system/quoting.h"

// Inside double quotes cmd.exe takes blanks, &, (, ) and the like as they
// are, and a % too unless the text up to the next % names a variable that
// is set (%PATH%): no quoting that its prompt reads the same way everywhere
// (wine's included) can keep that one, and a file name seldom holds it. The
// program's argument parser reads backslashes before a closing quote as
// escaping it, so those are doubled. Windows names hold no double quote.
std::string CommandArgument(std::string_view text) {
    std::string quoted = "\"";
    quoted += text;
    size_t trailing = 0;
    while (trailing < text.size() && text[text.size() - 1 - trailing] == '\\') ++trailing;
    quoted.append(trailing, '\\');
    return PrintableText(quoted + "\"");
}

namespace {

// Whether `folder` is one of the folders of PATH.
bool FolderOnPath(const std::filesystem::path& folder) {
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) return false;
    std::wstring path(size, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), size));
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring entry = path.substr(start, end - start);
        if (entry.size() >= 2 && entry.front() == L'"' && entry.back() == L'"')
            entry = entry.substr(1, entry.size() - 2);
        std::error_code error;
        if (!entry.empty() && std::filesystem::equivalent(entry, folder, error)) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string ToolCommand(std::string_view name) {
    const std::string program = ProgramFile();
    if (program.empty()) return std::string(name);
    const std::filesystem::path folder = FileSystemPath(program).parent_path();
    if (FolderOnPath(folder)) return std::string(name);
    return CommandArgument(PathText(folder / FileSystemPath(std::string(name) + ".exe")));
}

// Files by name on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "link/file_access.h"
#include "link/serial_win32.h"

namespace zorvane {

namespace {

constexpr const char* kNotRegular = "a device, not a regular file";

FileOutcome failure(DWORD code) {
    const bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    return {missing ? FileStatus::Missing : FileStatus::Failed, system_text(code)};
}

// NUL, CON, COM1, LPT1… name a device in every folder and with any
// extension ("nul.txt"); "\\.\" and "\\?\GLOBALROOT" reach the device
// namespace. None of them is opened: CreateFile on COM1 opens the line.
bool names_a_device(const std::string& path) {
    if (path.starts_with("\\\\.\\") || path.starts_with("//./"))
        return true;
    const size_t slash = path.find_last_of("/\\:");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return true;
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '0' && base[3] <= '9';
}

// The checks of a name before it is opened: a device or a directory is
// refused. `exists` tells whether there is a file of that name.
FileOutcome look_at(const std::wstring& wide, const std::string& path, bool& exists) {
    exists = false;
    if (names_a_device(path))
        return {FileStatus::NotRegular, kNotRegular};
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return {FileStatus::Missing, system_text(code)};
        return failure(code);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return {FileStatus::NotRegular, "a directory, not a regular file"};
    exists = true;
    return {};
}

// ".NAME.PID.N", cut so that the name fits 255 characters.
std::string temporary_prefix(const std::string& folder, const std::string& base) {
    size_t keep = std::min<size_t>(base.size(), 200);
    while (keep > 0 && keep < base.size() &&
           (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80)
        --keep;
    return folder + "." + base.substr(0, keep);
}

}  // namespace

FileOutcome open_regular_file(const std::string& path, FileUse use, std::FILE*& file) {
    file = nullptr;
    const std::wstring wide = wide_path(path);
    if (wide.empty())
        return failure(ERROR_INVALID_NAME);
    bool exists = false;
    const FileOutcome look = look_at(wide, path, exists);
    if (look.status == FileStatus::NotRegular || look.status == FileStatus::Failed ||
        (!exists && use == FileUse::Read))
        return look;
    const DWORD access = GENERIC_READ | (use == FileUse::Append ? FILE_APPEND_DATA : 0);
    HANDLE handle = ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  use == FileUse::Append ? OPEN_ALWAYS : OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return failure(::GetLastError());
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return {FileStatus::NotRegular, kNotRegular};
    }
    const int flags = use == FileUse::Read ? _O_RDONLY : _O_RDWR | _O_APPEND;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return failure(ERROR_TOO_MANY_OPEN_FILES);
    }
    file = _fdopen(fd, use == FileUse::Read ? "rb" : "a+b");
    if (file == nullptr) {
        _close(fd);
        return failure(ERROR_TOO_MANY_OPEN_FILES);
    }
    return {};
}

FileOutcome write_file_atomically(const std::string& path, std::string_view text) {
    std::wstring target = wide_path(path);
    if (target.empty())
        return failure(ERROR_INVALID_NAME);
    bool exists = false;
    const FileOutcome look = look_at(target, path, exists);
    if (look.status == FileStatus::NotRegular || look.status == FileStatus::Failed)
        return look;
    std::string folder;
    std::string base = path;
    if (const size_t slash = path.find_last_of("/\\"); slash != std::string::npos) {
        folder = path.substr(0, slash + 1);
        base = path.substr(slash + 1);
    }
    if (exists) {
        // A symbolic link is replaced by the file it names: the final path
        // of the file is where the new one goes.
        HANDLE handle =
            ::CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return failure(::GetLastError());
        const bool disk = ::GetFileType(handle) == FILE_TYPE_DISK;
        std::wstring final_path(32768, L'\0');
        const DWORD n = ::GetFinalPathNameByHandleW(
            handle, final_path.data(), static_cast<DWORD>(final_path.size()), FILE_NAME_NORMALIZED);
        ::CloseHandle(handle);
        if (!disk)
            return {FileStatus::NotRegular, kNotRegular};
        if (n > 0 && n < final_path.size()) {
            final_path.resize(n);
            target = final_path;
            const size_t slash = final_path.find_last_of(L"\\/");
            const std::wstring wide_folder = final_path.substr(0, slash + 1);
            const std::wstring wide_base = final_path.substr(slash + 1);
            const auto narrow = [](const std::wstring& w) {
                const int size = ::WideCharToMultiByte(
                    CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
                std::string out(static_cast<size_t>(std::max(size, 0)), '\0');
                ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(),
                                      size, nullptr, nullptr);
                return out;
            };
            folder = narrow(wide_folder);
            base = narrow(wide_base);
        }
    }
    // The temporary file lives in the same folder, so that the move is one
    // rename on one volume and a reader sees the old file or the new one.
    const std::string prefix = temporary_prefix(folder, base);
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD code = 0;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = wide_path(prefix + "." + std::to_string(::GetCurrentProcessId()) + "." +
                         std::to_string(attempt));
        file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        code = file == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        if (code != 0 && code != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE)
        return failure(code);
    bool ok = true;
    size_t done = 0;
    while (ok && done < text.size()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
        ok = ::WriteFile(file, text.data() + done, chunk, &written, nullptr) != 0 && written > 0;
        done += written;
    }
    ok = ok && ::FlushFileBuffers(file) != 0;
    code = ok ? 0 : ::GetLastError();
    ::CloseHandle(file);
    if (ok && ::MoveFileExW(temp.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        ok = false;
        code = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileW(temp.c_str());
        FileOutcome outcome = failure(code);
        outcome.status = FileStatus::Failed;
        return outcome;
    }
    return {};
}

}  // namespace zorvane

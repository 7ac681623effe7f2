#include "app/cli/cli_console.h"

#ifdef _WIN32
#include <windows.h>  // before shellapi.h, which needs its types
#endif
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#endif

namespace zorvane::cli {

#ifdef _WIN32

namespace {

UINT g_saved_output_cp = 0;

void restore_output_cp() {
    ::SetConsoleOutputCP(g_saved_output_cp);
}

std::string to_utf8(const wchar_t* wide) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) {
        return {};
    }
    std::string text(static_cast<size_t>(n - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
    return text;
}

}  // namespace

void use_utf8_console(int& argc, char**& argv) {
    const UINT old_cp = ::GetConsoleOutputCP();
    if (old_cp != 0 && old_cp != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
        // The console outlives us: leave it as the user had it.
        g_saved_output_cp = old_cp;
        std::atexit(restore_output_cp);
    }
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    // The narrow arguments are in the ANSI code page, which cannot hold every
    // name a user may type; the wide ones can.
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return;
    }
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    texts.clear();
    for (int i = 0; i < count; ++i) {
        texts.push_back(to_utf8(wide[i]));
    }
    ::LocalFree(wide);
    pointers.clear();
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    argc = count;
    argv = pointers.data();
}

#else

void use_utf8_console(int&, char**&) {}

#endif

}  // namespace zorvane::cli

// The program's text in and out is UTF-8 on every platform: the captions and
// messages are Cyrillic, and a script that reads the output must get the same
// bytes on Windows as on Linux.
#pragma once

namespace zorvane::cli {

// On Windows: a console shows UTF-8 (its output code page is put back at
// exit), standard output and error pass bytes unchanged (no CR before LF in a
// pipe), and the arguments are taken from the wide command line as UTF-8.
// Elsewhere it changes nothing.
void use_utf8_console(int& argc, char**& argv);

}  // namespace zorvane::cli

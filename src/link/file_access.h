// Every file the tool reads or writes by name goes through here: settings
// files, recordings, the monitor's password file. Only regular files are
// taken. A device node, a FIFO, a socket or a directory given where a file
// belongs is refused before it is opened (opening a FIFO blocks until a
// writer comes; /dev/zero never ends; a serial line changes its modem lines
// when opened), and every read is bounded, so no name a user types can hang
// the tool or fill the memory.
//
// The platform parts (file_access_posix.cpp, file_access_win32.cpp) hold the
// system calls; this header and file_access.cpp are the same everywhere.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace zorvane {

enum class FileStatus {
    Ok,
    Missing,     // no such file
    NotRegular,  // a device node, FIFO, socket or directory
    TooLarge,    // more than the bound: what was read is the start of it
    Failed,      // the system refused (the error says what)
};

struct FileOutcome {
    FileStatus status = FileStatus::Ok;
    std::string error;  // for the user: "a FIFO, not a regular file"
    bool ok() const { return status == FileStatus::Ok; }
};

enum class FileUse {
    Read,    // the file must exist
    Append,  // read and append; created (0666 less the umask) when missing
};

// Opens `path` when it is a regular file (a symbolic link is followed).
// The stream is binary; on success `file` is set and must be closed with
// std::fclose. Nothing is opened when the name is not a regular file.
FileOutcome open_regular_file(const std::string& path, FileUse use, std::FILE*& file);

// The whole of a regular file of at most `limit` bytes. A larger one is
// TooLarge, with its first `limit` bytes in `text`.
FileOutcome read_regular_file(const std::string& path, size_t limit, std::string& text);

// Reads from `file` up to and including the next '\n' (which is not kept),
// at most `limit` bytes of line. TooLarge when the line is longer; Missing
// at the end of the file with nothing read. `ended` tells whether a '\n'
// ended the line.
FileOutcome read_line(std::FILE* file, size_t limit, std::string& line, bool& ended);

// Writes `text` to `path` whole or not at all: a temporary file beside the
// target, flushed to the disk, then renamed over it. A symbolic link is
// followed and its target replaced in the target's own folder; an existing
// file keeps its permissions; the temporary name fits the file system's
// limit whatever the length of the target's. A target that exists but is
// not a regular file is refused untouched. On failure the earlier file (if
// any) is left as it was and no temporary file stays behind.
FileOutcome write_file_atomically(const std::string& path, std::string_view text);

// Text from a file or a device made safe for a terminal and a log: control
// characters, DEL, C1 controls and bytes that are not UTF-8 are shown as
// \xNN, so that nothing in them moves the cursor, recolours the terminal or
// cuts the message short (a NUL byte). Everything else is kept as it is.
std::string printable(std::string_view text);

// "1 KiB", "64 KiB", "1 MiB": a bound as the messages name it.
std::string size_text(size_t bytes);

}  // namespace zorvane

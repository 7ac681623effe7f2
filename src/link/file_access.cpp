// The parts of file access that make no system call of their own.
#include "link/file_access.h"

#include <cerrno>
#include <cstring>

namespace zorvane {

namespace {

// Length of the UTF-8 sequence that starts `text` at `i`, or 0 when the
// bytes there are no valid one (overlong forms and surrogates included).
size_t utf8_length(std::string_view text, size_t i) {
    const auto at = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    size_t length = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (at(i + k) & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

void append_escaped(std::string& out, unsigned char byte) {
    constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            out += text[i++];
            continue;
        }
        const size_t length = byte < 0x80 ? 0 : utf8_length(text, i);
        // U+0080 to U+009F are the C1 controls (CSI among them): escaped
        // like the C0 ones.
        if (length == 0 ||
            (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
            append_escaped(out, byte);
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

std::string size_text(size_t bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes / 1024) + " KiB";
    return std::to_string(bytes) + " bytes";
}

FileOutcome read_regular_file(const std::string& path, size_t limit, std::string& text) {
    text.clear();
    std::FILE* file = nullptr;
    FileOutcome outcome = open_regular_file(path, FileUse::Read, file);
    if (!outcome.ok())
        return outcome;
    // One byte past the bound tells that there is more.
    text.resize(limit + 1);
    size_t done = 0;
    while (done < text.size()) {
        const size_t n = std::fread(text.data() + done, 1, text.size() - done, file);
        if (n == 0)
            break;
        done += n;
    }
    if (std::ferror(file)) {
        outcome = {FileStatus::Failed, std::strerror(errno)};
    } else if (done > limit) {
        outcome = {FileStatus::TooLarge, "larger than " + size_text(limit)};
        done = limit;
    }
    std::fclose(file);
    text.resize(done);
    return outcome;
}

FileOutcome read_line(std::FILE* file, size_t limit, std::string& line, bool& ended) {
    line.clear();
    ended = false;
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF) {
            if (std::ferror(file))
                return {FileStatus::Failed, std::strerror(errno)};
            if (line.empty())
                return {FileStatus::Missing, "no line"};
            return {};
        }
        if (c == '\n') {
            ended = true;
            return {};
        }
        if (line.size() == limit)
            return {FileStatus::TooLarge, "a line longer than " + size_text(limit)};
        line += static_cast<char>(c);
    }
}

}  // namespace zorvane

// The command line's inputs and outputs: files, standard input and output, and arguments, read
// in pieces so that a key far larger than memory streams through.
#pragma once

#include "secret.h"
#include "worker.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unistd.h>

namespace morvalen::cli {

// A file that cannot be read or written, or that must not be replaced: printed as
// "morvalen-cli: NAME: WHAT".
struct FileError
{
    std::string name;
    std::string what;
};

// name as it may be printed to a terminal: as it stands when it holds nothing a terminal would
// act on, else quoted as GNU tools quote such names ('a'$'\n''b'), so that no control character
// or malformed UTF-8 in a file name reaches the terminal.
std::string printableName(std::string_view name);

// Writes "morvalen-cli: warning: " and what to fd, as one write; a warning that cannot be written
// is dropped, since it stops nothing.
void warn(int fd, std::string_view what);

// One input: a file, standard input ("-") or the text of an argument. A UTF-8 byte order mark at
// its very start is skipped.
class Input
{
public:
    // name: how messages name it: the file as given, "<stdin>", or the argument's name.
    // "-" is standardInput, which the input then reads but does not close.
    static Input file(const std::string& path, int standardInput = STDIN_FILENO);
    static Input argument(std::string_view text, std::string name);

    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input();

    const std::string& name() const { return m_name; }
    // The next piece of the text, good until the next call; empty at its end.
    std::string_view next();

private:
    Input(int fd, bool owned, std::string name, std::string_view text);
    std::size_t fill(char* buffer, std::size_t least);

    int m_fd = -1; // -1 for an argument
    bool m_owned = false; // closed when the input goes
    std::string m_name;
    std::string_view m_text; // an argument's text not yet handed out
    // A regular file's next piece is read into the other buffer while this one is handed out.
    // Only there: a pipe or a terminal could keep a read ahead waiting after the last piece needed.
    std::array<SecretBlock, 2> m_buffers;
    std::size_t m_current = 0;
    std::size_t m_ahead = 0; // bytes read into the buffer handed out next
    bool m_readsAhead = false;
    bool m_started = false;
    Worker m_worker;
};

// A growing array of bytes, in a secret block: it grows by remapping its pages rather than
// copying them, so it never stands in memory twice, and is wiped when it goes.
class ByteBuffer
{
public:
    // Room for at least bytes more at the end; what is written there counts once appended.
    char* room(std::size_t bytes);
    void append(std::size_t bytes) { m_size += bytes; }
    std::span<char> span() const { return {m_block.data(), m_size}; }
    std::string_view view() const { return {m_block.data(), m_size}; }

private:
    SecretBlock m_block;
    std::size_t m_size = 0;
};

} // namespace morvalen::cli

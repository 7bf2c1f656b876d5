// The command line's inputs and outputs: files, standard input and output, and arguments, read
// in pieces so that a key far larger than memory streams through.
#pragma once

#include "worker.h"

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace morvalen::cli {

// A file that cannot be read or written, or that must not be replaced: printed as
// "morvalen-cli: NAME: WHAT".
struct FileError
{
    std::string name;
    std::string what;
};

// Removes the temporary files of uncommitted outputs when the program is ended by a signal
// (Ctrl+C, a closed pipe), then ends it as that signal would. Call once at start.
void removeTemporariesOnSignals();

// One input: a file, standard input ("-") or the text of an argument. A UTF-8 byte order mark at
// its very start is skipped.
class Input
{
public:
    // name: how messages name it: the file as given, "<stdin>", or the argument's name.
    static Input file(const std::string& path);
    static Input argument(std::string_view text, std::string name);

    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input();

    const std::string& name() const { return m_name; }
    // The next piece of the text, good until the next call; empty at its end.
    std::string_view next();

private:
    Input(int fd, std::string name, std::string_view text);
    std::size_t fill(char* buffer, std::size_t least);

    int m_fd = -1; // -1 for an argument
    std::string m_name;
    std::string_view m_text; // an argument's text not yet handed out
    // A regular file's next piece is read into the other buffer while this one is handed out.
    // Only there: a pipe or a terminal could keep a read ahead waiting after the last piece needed.
    std::array<std::unique_ptr<char[]>, 2> m_buffers;
    std::size_t m_current = 0;
    std::size_t m_ahead = 0; // bytes read into the buffer handed out next
    bool m_readsAhead = false;
    bool m_started = false;
    Worker m_worker;
};

// A growing array of bytes. Large blocks grow by remapping their pages rather than copying them,
// so the array never stands in memory twice.
class ByteBuffer
{
public:
    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ~ByteBuffer();

    // Room for at least bytes more at the end; what is written there counts once appended.
    char* room(std::size_t bytes);
    void append(std::size_t bytes) { m_size += bytes; }
    std::span<char> span() const { return {m_data, m_size}; }
    std::string_view view() const { return {m_data, m_size}; }

private:
    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Where an output goes. A file is written to a temporary file beside it and renamed into place
// only by commit(), so it appears whole or not at all; without commit, the temporary file is
// removed and the target left as it was. Standard output ("-") and targets that are not regular
// files (a device, a pipe) are written directly.
class Output
{
public:
    enum class Kind
    {
        Text, // created with the usual permissions, 0666 less the umask
        Key, // created with permissions 0600; an existing target is refused unless replace is set
    };

    Output(const std::string& path, Kind kind, bool replace);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();

    void write(std::string_view text);
    // Writes text while the caller goes on, and leaves it empty; its room is traded for that of
    // the text handed before, so that two buffers take turns. An error shows at the next call.
    void writeAndClear(std::string& text);
    // Closes the temporary file, so that every error it may report comes before any commit.
    void finish();
    void commit();

private:
    void writeAll(std::string_view text) const;
    [[noreturn]] void fail(int error) const;

    Kind m_kind;
    bool m_replace;
    std::string m_name; // as given, for messages
    std::string m_target; // the file renamed over, symbolic links followed
    std::string m_temporary; // empty when written directly
    int m_slot = -1; // in the list of temporaries to remove on a signal
    int m_fd = -1;
    std::string m_handed; // being written by the worker
    Worker m_worker;
};

} // namespace morvalen::cli

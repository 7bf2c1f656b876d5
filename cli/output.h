// Where an output goes, written the way careful programs save files. A regular file (or a name
// not yet taken) is written to an unnamed temporary file in its folder, synced, and linked into
// place only by place(), after which the folder is synced: the file appears whole or not at all,
// a kill leaves nothing behind, and once the command has succeeded a power cut cannot take it.
// Anything else (standard output, /dev/fd/N, a pipe, a terminal, a device) is written in place.
#pragma once

#include "io.h"
#include "worker.h"

#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace morvalen::cli {

// Removes the temporary files of outputs not yet in place, and a key placed without the output
// that belongs with it, when the program is ended by a signal (Ctrl+C, a closed pipe), then ends
// it as that signal would. A write past the file size limit fails with EFBIG rather than ending
// the program, so that it is reported and cleaned up like any other write error. Call once at
// start.
void removeTemporariesOnSignals();

// Where warnings go (standard error unless told): a finished key file that other users can read.
void warningsTo(int fd);

// The steps that put a file in place, for tests: the observer sees each one once it is done and
// may throw to stop the run there, as a crash would.
enum class Step
{
    SyncFile, // the temporary's bytes are on the disk
    RemoveOld, // the target's earlier file is gone
    Place, // the new file has the target's name
    SyncFolder, // the folder's new state is on the disk
};
using StepObserver = std::function<void(Step, const std::string& name)>;
void observeSteps(StepObserver observer);

class Output
{
public:
    enum class Kind
    {
        Text, // new files get 0666 less the umask; a replaced file keeps its permissions
        Secret, // holds key text: 0600 from the first byte, whatever it replaces
    };
    enum class Existing
    {
        Replace,
        Refuse, // a regular file already there is an error: the data its key decrypts would be lost
    };

    // "-" is standardOutput, which the output then writes but does not close.
    Output(const std::string& path, Kind kind, Existing existing, int standardOutput = STDOUT_FILENO);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();

    // Written in place, not through a temporary file.
    bool inPlace() const { return m_temporary < 0; }

    void write(std::string_view text);
    // Writes text while the caller goes on, and leaves it empty; its room is traded for that of
    // the text handed before, so that two buffers take turns. An error shows at the next call.
    void writeAndClear(std::string& text);
    // Keeps what is written back until finish(), in memory and beyond a few megabytes in an
    // unnamed temporary file in $TMPDIR, so that nothing reaches a stream before the input has
    // been read whole and found valid. Only outputs written in place need it.
    void holdBack();
    // Waits for the last write, syncs and closes the file, so that every error comes before any
    // commit; what was held back is written now.
    void finish();
    // Removes the target's earlier file, for a pair that must never be left half old, half new.
    void removeOld();
    // Links the temporary file in under the target's name and syncs the folder.
    void place();
    // Until confirm(), a placed file is taken away again by withdraw() or a signal: a key placed
    // before the encrypted hex that belongs with it has been written.
    void placeProvisionally();
    void confirm();
    // False when a placed file could not be taken away.
    bool withdraw() noexcept;
    bool placed() const { return m_placed; }
    bool removedOld() const { return m_removedOld; }
    const std::string& name() const { return m_name; }
    void commit()
    {
        finish();
        place();
    }

private:
    friend class PairLock;

    void open(const std::string& path);
    void openInPlace(const std::string& path, int fd);
    void openTemporary(const std::string& target, mode_t mode, const struct ::stat* old);
    // 0 or the error of linking the unnamed temporary file in under name.
    int linkTemporary(const std::string& name) const;
    // 0 or the error of renaming the hidden temporary to the target's name without replacing.
    int renameNoReplace();
    void linked(int error) const;
    void writeAll(std::string_view text);
    void hold(std::string_view text);
    void releaseHeld();
    void dropHeld() noexcept;
    void syncFolder();
    void release() noexcept;
    [[noreturn]] void fail(int error) const;
    [[noreturn]] void refuseExisting() const;

    Kind m_kind;
    Existing m_existing;
    std::string m_name; // as given, for messages
    std::string m_folder; // the target's folder, ending in '/', or empty for the current one
    std::string m_base; // the target's name in it
    bool m_replaces = false; // a regular file stood there when the output was opened
    int m_folderFd = -1;
    int m_fd = -1;
    bool m_owned = true; // closed when the output goes
    int m_temporary = -1; // 0 unnamed, 1 named (a file system without unnamed files), -1 in place
    std::string m_temporaryName; // a named temporary's name in the folder
    int m_slot = -1; // in the list of names to remove on a signal
    int m_provisionalSlot = -1;
    bool m_provisional = false; // a placed file is withdrawn unless confirmed
    bool m_placed = false;
    bool m_removedOld = false;
    bool m_exposed = false; // holds key text that others can read: a file system without permissions
    bool m_locked = false; // the folder's lock is held for this output
    bool m_holding = false; // writes are held back until finish()
    bool m_finished = false;
    SecretBlock m_held; // what is held back, while it is small
    std::size_t m_heldSize = 0;
    int m_spool = -1; // what is held back, once it is large
    std::size_t m_spooled = 0;
    std::string m_handed; // being written by the worker
    Worker m_worker;
};

// Commits two outputs that belong together, a key and the encrypted hex it decrypts, so that a
// crash or a failure at any step leaves the old pair, the new pair or missing files, never one of
// each. Writers of one pair take turns: the second waits on an advisory lock of the folders
// (flock, which a crash releases) until the first has placed its pair.
void commitPair(Output& key, Output& text);

} // namespace morvalen::cli

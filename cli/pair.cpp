#include "names.h"
#include "output.h"

#include <array>
#include <sys/file.h>
#include <sys/stat.h>
#include <utility>

namespace morvalen::cli {

// The folder locks of a pair, taken once per folder, in an order all writers share.
class PairLock
{
public:
    PairLock(Output& key, Output& text)
    {
        m_key = &key;
        m_text = &text;
        std::array<Output*, 2> outputs {&key, &text};
        std::array<struct stat, 2> folders {};
        for (std::size_t i = 0; i < 2; ++i) {
            if (outputs[i]->inPlace() || ::fstat(outputs[i]->m_folderFd, &folders[i]) != 0) {
                outputs[i] = nullptr;
            }
        }
        Output* sharing = nullptr; // one open folder locks it for both
        if (outputs[0] != nullptr && outputs[1] != nullptr && folders[0].st_dev == folders[1].st_dev
            && folders[0].st_ino == folders[1].st_ino) {
            sharing = std::exchange(outputs[1], nullptr);
        } else if (outputs[0] != nullptr && outputs[1] != nullptr
            && std::pair(folders[1].st_dev, folders[1].st_ino) < std::pair(folders[0].st_dev, folders[0].st_ino)) {
            std::swap(outputs[0], outputs[1]);
        }
        for (Output* output : outputs) {
            // A file system without locks is written unlocked, as before there were any.
            if (output != nullptr && ::flock(output->m_folderFd, LOCK_EX) == 0) {
                output->m_locked = true;
                m_held[m_count++] = output->m_folderFd;
                if (sharing != nullptr) {
                    sharing->m_locked = true;
                }
            }
        }
    }
    PairLock(const PairLock&) = delete;
    PairLock& operator=(const PairLock&) = delete;
    ~PairLock()
    {
        for (std::size_t i = 0; i < m_count; ++i) {
            ::flock(m_held[i], LOCK_UN);
        }
        m_key->m_locked = false;
        m_text->m_locked = false;
    }

private:
    std::array<int, 2> m_held {};
    std::size_t m_count = 0;
    Output* m_key = nullptr;
    Output* m_text = nullptr;
};

void commitPair(Output& key, Output& text)
{
    key.finish();
    text.finish();
    const PairLock lock(key, text);
    try {
        text.removeOld();
    } catch (...) {
        // The old hex gone, the old key goes with it: the pair stays whole or leaves together.
        if (text.removedOld()) {
            try {
                key.removeOld();
            } catch (const FileError&) {
            }
        }
        throw;
    }
    try {
        key.removeOld();
    } catch (FileError& e) {
        if (text.removedOld()) {
            e.what += "; " + printableName(text.name()) + " is removed already, so the old key is left alone";
        }
        throw;
    }
    // Once the hex has its name the pair is whole, if perhaps not yet synced; before, the new key
    // goes again, while the lock keeps another writer's key from taking its name. False when it
    // cannot.
    const auto settle = [&] {
        if (text.placed()) {
            key.confirm();
            return true;
        }
        return key.withdraw();
    };
    try {
        key.placeProvisionally();
        text.place();
    } catch (FileError& e) {
        if (!settle()) {
            e.what
                += "; the new key " + printableName(key.name()) + " could not be removed and is left without its hex";
        }
        throw;
    } catch (...) {
        settle();
        throw;
    }
    key.confirm();
}

} // namespace morvalen::cli

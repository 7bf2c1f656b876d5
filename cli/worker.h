// A second thread for one job at a time, so that the kernel's copying of a file's bytes runs
// beside the work on them: reading the next piece of an input while this one is read, writing one
// piece of an output while the next is made.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace morvalen::cli {

class Worker
{
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { stop(); }

    // Starts job once the one before has ended; call wait() before touching what that one used.
    void start(std::function<void()> job);
    // Waits until the job in hand has ended, and throws what it threw, if anything.
    void wait();
    // Waits for the job in hand and ends the thread; an error the job ended with is dropped, as
    // the caller is leaving. Call it before closing what a job may still use.
    void stop() noexcept;

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_job; // set from start until the job has ended
    std::exception_ptr m_error;
    bool m_stopping = false;
    std::thread m_thread; // started with the first job; last, so that it ends before the rest goes
};

} // namespace morvalen::cli

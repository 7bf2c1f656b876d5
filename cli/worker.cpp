#include "worker.h"

#include <utility>

namespace morvalen::cli {

void Worker::stop() noexcept
{
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_job; });
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void Worker::start(std::function<void()> job)
{
    wait();
    {
        std::lock_guard lock(m_mutex);
        m_job = std::move(job);
    }
    if (!m_thread.joinable()) {
        m_thread = std::thread(&Worker::run, this);
    }
    m_changed.notify_all();
}

void Worker::wait()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_job; });
    if (m_error) {
        std::rethrow_exception(std::exchange(m_error, nullptr));
    }
}

void Worker::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_job || m_stopping; });
        if (!m_job) {
            return;
        }
        lock.unlock();
        std::exception_ptr error;
        try {
            m_job();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        m_error = error;
        m_job = nullptr;
        m_changed.notify_all();
    }
}

} // namespace morvalen::cli

#include "platform/spooler.h"

#include <condition_variable>
#include <mutex>

bool waitUnlessStopped(const std::stop_token &stop, std::chrono::milliseconds time)
{
    std::mutex mutex;
    std::unique_lock lock(mutex);
    std::condition_variable_any().wait_for(lock, stop, time, [] { return false; });
    return !stop.stop_requested();
}

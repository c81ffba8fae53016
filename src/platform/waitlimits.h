#pragma once

#include <atomic>

// Makes blocking work on another thread give up. An int underneath: the
// printing library polls a plain int while it connects.
class StopFlag
{
public:
    void set() noexcept { std::atomic_ref<int>(m_value).store(1); }
    bool isSet() const noexcept { return std::atomic_ref<int>(m_value).load() != 0; }
    int *pollable() const noexcept { return &m_value; }

private:
    alignas(std::atomic_ref<int>::required_alignment) mutable int m_value = 0;
};

// How long a call to a scheduler or printer may wait to connect, and then for
// each answer or taking of data; a set stop ends a wait within 250 ms.
struct WaitLimits
{
    static constexpr int DefaultConnectTimeoutMs = 10000;
    static constexpr int DefaultResponseTimeoutMs = 60000;

    int connectTimeoutMs = DefaultConnectTimeoutMs;
    int responseTimeoutMs = DefaultResponseTimeoutMs;
    const StopFlag *stop = nullptr;
};

#pragma once
// A one-value mailbox from a worker to the GUI thread: the worker puts, the GUI takes. A value
// not yet taken is replaced by a newer one, so a slow GUI shows the newest and never falls
// behind. Put says whether the box was empty: only then must the caller post a delivery, so
// one queued call is in flight at most, however fast the worker puts. Any thread.

#include <mutex>
#include <optional>
#include <utility>

template <class T> class CLatestValue {
public:
    bool Put(const T& value) {
        std::lock_guard lock(m_mutex);
        const bool wasEmpty = !m_value.has_value();
        m_value = value;
        return wasEmpty;
    }
    std::optional<T> Take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_value, std::nullopt);
    }

private:
    std::mutex m_mutex;
    std::optional<T> m_value;
};

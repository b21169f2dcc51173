#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace cadenzo {

// A stack of caller-owned items linked through their `next` field. push is
// lock-free; takeAll hands the whole chain (newest first) to one consumer,
// so there is no ABA hazard. Neither allocates.
template <class T>
class IntrusiveStack {
public:
    void push(T* item) noexcept {
        T* head = head_.load(std::memory_order_relaxed);
        do {
            item->next = head;
        } while (!head_.compare_exchange_weak(head, item, std::memory_order_release, std::memory_order_relaxed));
    }

    T* takeAll() noexcept { return head_.exchange(nullptr, std::memory_order_acquire); }

    bool empty() const noexcept { return head_.load(std::memory_order_relaxed) == nullptr; }

    static T* reversed(T* chain) noexcept {
        T* result = nullptr;
        while (chain) {
            T* next = chain->next;
            chain->next = result;
            result = chain;
            chain = next;
        }
        return result;
    }

private:
    std::atomic<T*> head_{nullptr};
};

// An immutable value that control threads replace and one real-time reader
// at a time reads without locking. The reader announces what it holds in a
// hazard slot and re-checks it, so a replaced value is never freed while the
// reader may still be inside it; freeing always happens on a control thread.
template <class T>
class SnapshotPublisher {
public:
    SnapshotPublisher() = default;
    SnapshotPublisher(const SnapshotPublisher&) = delete;
    SnapshotPublisher& operator=(const SnapshotPublisher&) = delete;

    // Real-time side: a pointer valid until release(); nullptr when nothing
    // has been published.
    const T* acquire() noexcept {
        const T* value = current_.load();
        for (;;) {
            hazard_.store(value);
            const T* again = current_.load();
            if (again == value) return value;
            value = again;
        }
    }
    void release() noexcept { hazard_.store(nullptr); }

    // Control side. Replaces the value and waits (briefly: one render call at
    // most) until the reader has left the old one, so that once this returns
    // true the reader no longer sees anything only the old value referred to.
    // If the reader seems stuck the old value is parked, freed later, and
    // this returns false.
    bool publish(std::shared_ptr<const T> next) {
        std::lock_guard lock(mutex_);
        const T* old = owned_.get();
        current_.store(next.get());
        std::shared_ptr<const T> previous = std::exchange(owned_, std::move(next));
        bool letGo = true;
        if (previous) {
            letGo = waitUntilUnused(old);
            if (letGo) previous.reset();
            else parked_.push_back(std::move(previous));
        }
        collectLocked();
        return letGo;
    }

    std::shared_ptr<const T> current() const {
        std::lock_guard lock(mutex_);
        return owned_;
    }

    // Frees parked values the reader has left.
    void collect() {
        std::lock_guard lock(mutex_);
        collectLocked();
    }

private:
    bool waitUntilUnused(const T* old) const {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + seconds(1);
        for (int spin = 0; hazard_.load() == old; ++spin) {
            if (steady_clock::now() > deadline) return false;
            if (spin < 64) std::this_thread::yield();
            else std::this_thread::sleep_for(microseconds(200));
        }
        return true;
    }

    void collectLocked() {
        const T* inUse = hazard_.load();
        std::erase_if(parked_, [inUse](const std::shared_ptr<const T>& value) { return value.get() != inUse; });
    }

    std::atomic<const T*> current_{nullptr};
    std::atomic<const T*> hazard_{nullptr};
    mutable std::mutex mutex_;
    std::shared_ptr<const T> owned_;
    std::vector<std::shared_ptr<const T>> parked_;
};

} // namespace cadenzo

#include "native_host/event_loop.h"

#include <utility>

namespace quenra {

EventLoop::TimerId EventLoop::addRepeatingTimer(Clock::duration interval,
                                                std::function<void()> action) {
    thread_.check();
    std::lock_guard lock(mutex_);
    TimerId id = nextTimerId_++;
    timers_.emplace(id, Timer{interval, Clock::now() + interval, std::move(action)});
    wake_.notify_one();
    return id;
}

void EventLoop::cancelTimer(TimerId id) {
    thread_.check();
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

std::size_t EventLoop::timerCount() const {
    thread_.check();
    std::lock_guard lock(mutex_);
    return timers_.size();
}

void EventLoop::post(std::unique_lock<std::mutex>& lock, HandOff& handOff) {
    finished_.wait(lock, [&] { return pending_ == nullptr; });
    pending_ = &handOff;
    // Notified with the mutex released: a loop woken while it is still held here would only
    // go back to sleep on it, and on a virtual machine each such wake-up costs tens of
    // microseconds of the request's reply.
    lock.unlock();
    wake_.notify_one();
}

void EventLoop::runAndWait(std::function<void()> work) {
    thread_.checkElsewhere();
    HandOff handOff{std::move(work)};
    std::unique_lock lock(mutex_);
    post(lock, handOff);
    lock.lock();
    finished_.wait(lock, [&] { return handOff.done; });
}

void EventLoop::handOverLast(std::function<void()> work) {
    thread_.checkElsewhere();
    std::unique_lock lock(mutex_);
    // An earlier last hand-off, should there be one, has finished once none is pending.
    finished_.wait(lock, [&] { return pending_ == nullptr; });
    post(lock, last_.emplace(HandOff{std::move(work)}));
}

void EventLoop::run() {
    thread_.check();
    std::unique_lock lock(mutex_);
    for (;;) {
        if (pending_ != nullptr) {
            HandOff* handOff = pending_;
            lock.unlock();
            handOff->work();
            lock.lock();
            // The caller may free its hand-off as soon as done is set and the lock is gone.
            handOff->done = true;
            pending_ = nullptr;
            // Notified unlocked, as in runAndWait, so that the caller wakes to a free mutex.
            lock.unlock();
            finished_.notify_all();
            lock.lock();
            continue;
        }

        auto due = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (due == timers_.end() || it->second.deadline < due->second.deadline)
                due = it;
        }
        if (due == timers_.end()) {
            return;
        }
        Clock::time_point now = Clock::now();
        if (due->second.deadline > now) {
            wake_.wait_until(lock, due->second.deadline);
            continue;
        }

        Timer& timer = due->second;
        timer.deadline += timer.interval;
        if (timer.deadline <= now)
            timer.deadline = now + timer.interval;
        // The action runs unlocked and may add or cancel timers, itself included; a copy keeps
        // it alive while it runs.
        std::function<void()> action = timer.action;
        lock.unlock();
        action();
        lock.lock();
    }
}

}  // namespace quenra

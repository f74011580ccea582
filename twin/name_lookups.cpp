#include "name_lookups.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace zorvik {

// What the caller and the lookup threads share; the last of them frees it.
struct NameLookups::Shared {
    Shared(std::vector<std::uint32_t> all, Lookup lookup)
        : addresses(std::move(all)), lookUp(std::move(lookup)), names(addresses.size()) {}

    // Takes address after address until none is left or the caller has given up.
    void work(std::size_t self) {
        std::unique_lock lock(mutex);
        while (!givenUp && next < addresses.size()) {
            const std::size_t i = next++;
            lock.unlock();
            std::string name = lookUp(addresses[i]);
            lock.lock();
            names[i] = std::move(name);
            if (++done == addresses.size()) {
                allBack.notify_one();
            }
        }
        finished[self] = true;
    }

    const std::vector<std::uint32_t> addresses;
    const Lookup lookUp;
    std::mutex mutex;
    std::condition_variable allBack;
    std::vector<std::string> names;
    std::vector<bool> finished;  // by thread: it takes no more addresses
    std::size_t next = 0, done = 0;
    bool givenUp = false;
};

NameLookups::NameLookups(std::vector<std::uint32_t> addresses, Lookup lookUp, std::size_t atOnce)
    : shared_(std::make_shared<Shared>(std::move(addresses), std::move(lookUp))) {
    const std::size_t threads = std::min(atOnce, shared_->addresses.size());
    shared_->finished.resize(threads);
    threads_.reserve(threads);
    std::size_t started = 0;
    try {
        for (; started < threads; ++started) {
            threads_.emplace_back([shared = shared_, started] { shared->work(started); });
        }
    } catch (const std::system_error&) {
        // Those started take on the rest; with none, there is nothing to wait for.
        if (started == 0) {
            shared_->givenUp = true;
        }
    }
}

NameLookups::~NameLookups() {
    std::vector<bool> finished;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->givenUp = true;
        finished = shared_->finished;
    }
    // Those still in a lookup end by themselves; the others are all but gone.
    for (std::size_t i = 0; i < threads_.size(); ++i) {
        if (finished[i]) {
            threads_[i].join();
        } else {
            threads_[i].detach();
        }
    }
}

std::vector<std::string> NameLookups::takeBy(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(shared_->mutex);
    shared_->allBack.wait_until(lock, deadline,
                                [&] { return shared_->givenUp || shared_->done == shared_->addresses.size(); });
    shared_->givenUp = true;
    return shared_->names;
}

}  // namespace zorvik

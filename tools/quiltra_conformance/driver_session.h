// The checked driver library and the calls into it. Every call goes through call(), which
// marks which entry is running since when, so that the watchdog can tell a driver that never
// returns from one that is slow.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "driver_events.h"
#include "driver_library.h"

namespace quiltra::conformance {

class DriverSession {
public:
    explicit DriverSession(std::unique_ptr<tools::DriverLibrary> library)
        : library_(std::move(library)) {}

    const tools::DriverEntryPoints& entries() const { return library_->entries(); }
    const std::vector<std::string>& missingEntries() const { return library_->missingEntries(); }

    // Runs f, a call of the driver's entry `entry` (a literal), marked for the watchdog.
    template <typename F>
    auto call(const char* entry, F&& f) {
        Mark mark(*this, entry);
        return f();
    }

    // The entry being called (null: none) and since when.
    std::pair<const char*, Clock::time_point> currentCall() {
        std::lock_guard lock(mutex_);
        return {current_, since_};
    }

private:
    struct Mark {
        Mark(DriverSession& session, const char* entry) : session_(session) {
            std::lock_guard lock(session_.mutex_);
            session_.current_ = entry;
            session_.since_ = Clock::now();
        }
        ~Mark() {
            std::lock_guard lock(session_.mutex_);
            session_.current_ = nullptr;
        }
        Mark(const Mark&) = delete;
        Mark& operator=(const Mark&) = delete;
        DriverSession& session_;
    };

    std::unique_ptr<tools::DriverLibrary> library_;
    std::mutex mutex_;  // guards current_ and since_
    const char* current_ = nullptr;
    Clock::time_point since_;
};

}  // namespace quiltra::conformance

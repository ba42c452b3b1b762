// A test's own handle on a fake driver library and its control object. Holding it keeps the
// library (and so the fake's script and log) loaded while Quiltra loads and unloads it.
#pragma once

#include <stdexcept>
#include <string>

#include "fake_driver_control.h"
#include "platform/dynamic_library.h"

namespace quiltra::fake {

class FakeDriverLibrary {
public:
    // Loads the library at `path` and resets its fake to the unscripted state.
    explicit FakeDriverLibrary(const std::string& path)
        : library_(platform::DynamicLibrary::load(path.c_str())) {
        auto entry = library_.function<FakeDriverControlFn>(kFakeDriverControlEntry);
        if (entry == nullptr) {
            throw std::runtime_error("not a fake driver: " + path);
        }
        control_ = entry();
        control_->reset();
    }
    ~FakeDriverLibrary() { control_->reset(); }
    FakeDriverLibrary(const FakeDriverLibrary&) = delete;
    FakeDriverLibrary& operator=(const FakeDriverLibrary&) = delete;

    FakeDriverControl& control() const { return *control_; }
    FakeDriverControl* operator->() const { return control_; }

private:
    platform::DynamicLibrary library_;
    FakeDriverControl* control_ = nullptr;
};

}  // namespace quiltra::fake

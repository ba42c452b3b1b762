// Test-side handle on a fake plug-in library (fake_prefilter, fake_resampler and their
// variants without Create...): loads the same file the bindings load and reaches its control
// functions.
#pragma once

#include <string>
#include <vector>

#include "fake_plugin_control.h"
#include "platform/dynamic_library.h"

namespace quiltra::test {

class FakePlugin {
public:
    // `baseName` as for libraryPath ("fake_prefilter"); resets the library's log and script.
    explicit FakePlugin(const std::string& baseName);

    // The full path the bindings are given.
    const std::string& path() const { return path_; }
    // The calls logged since the last reset, one per entry.
    std::vector<std::string> calls() const;
    void reset() const;
    void set(const char* key, int value) const;
    int liveInstances() const;

private:
    std::string path_;
    platform::DynamicLibrary library_;
    FakePluginLogFn log_ = nullptr;
    FakePluginResetFn reset_ = nullptr;
    FakePluginSetFn set_ = nullptr;
    FakePluginLiveInstancesFn live_ = nullptr;
};

}  // namespace quiltra::test

#include "fake_plugin.h"

#include <sstream>
#include <stdexcept>

#include "test_support.h"

namespace quiltra::test {

FakePlugin::FakePlugin(const std::string& baseName) : path_(libraryPath(baseName)) {
    library_ = platform::DynamicLibrary::load(path_.c_str());
    log_ = library_.function<FakePluginLogFn>("FakePluginLog");
    reset_ = library_.function<FakePluginResetFn>("FakePluginReset");
    set_ = library_.function<FakePluginSetFn>("FakePluginSet");
    live_ = library_.function<FakePluginLiveInstancesFn>("FakePluginLiveInstances");
    if (log_ == nullptr || reset_ == nullptr || set_ == nullptr || live_ == nullptr) {
        throw std::runtime_error("cannot load fake plug-in " + path_);
    }
    reset_();
}

std::vector<std::string> FakePlugin::calls() const {
    std::vector<std::string> lines;
    std::istringstream text(log_());
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

void FakePlugin::reset() const {
    reset_();
}

void FakePlugin::set(const char* key, int value) const {
    set_(key, value);
}

int FakePlugin::liveInstances() const {
    return live_();
}

}  // namespace quiltra::test

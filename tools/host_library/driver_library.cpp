#include "driver_library.h"

#include <filesystem>

#include "platform/file_path.h"

namespace quiltra::tools {

namespace {

template <typename F>
void lookUp(const platform::DynamicLibrary& library, const char* name, F& entry,
            std::vector<std::string>& missing) {
    entry = library.function<F>(name);
    if (entry == nullptr) {
        missing.emplace_back(name);
    }
}

}  // namespace

DriverLibrary::DriverLibrary(const std::string& path, Lacking lacking) {
    if (!platform::fileExists(path.c_str())) {
        error_ = "library " + path + " not found";
        return;
    }
    library_ = platform::DynamicLibrary::load(path.c_str());
    if (!library_.loaded()) {
        error_ = "library " + path +
                 " could not be loaded (not a loadable library for this "
                 "system, or one it needs is missing)";
        return;
    }
    std::vector<std::string>& missing = missing_;
    DriverEntryPoints& e = entries_;
    lookUp(library_, "initialize", e.initialize, missing);
    lookUp(library_, "finalize", e.finalize, missing);
    lookUp(library_, "configureCamera", e.configureCamera, missing);
    lookUp(library_, "getCVLMaxNoOfPorts", e.getCVLMaxNoOfPorts, missing);
    lookUp(library_, "getCVLNoOfSupportedCameras", e.getCVLNoOfSupportedCameras, missing);
    lookUp(library_, "getCVLCameraConfigNames", e.getCVLCameraConfigNames, missing);
    lookUp(library_, "openCVLPort", e.openCVLPort, missing);
    lookUp(library_, "closeCVLPort", e.closeCVLPort, missing);
    lookUp(library_, "doCVLGrab", e.doCVLGrab, missing);
    lookUp(library_, "getCVLGrabRow", e.getCVLGrabRow, missing);
    lookUp(library_, "setCompleteCallback", e.setCompleteCallback, missing);
    lookUp(library_, "getPropertyRange", e.getPropertyRange, missing);
    lookUp(library_, "getProperty", e.getProperty, missing);
    lookUp(library_, "setProperty", e.setProperty, missing);
    lookUp(library_, "setCmdCallback", e.setCmdCallback, missing);
    lookUp(library_, "execCmd", e.execCmd, missing);
    e.setDebugMsgProc = library_.function<SetDebugMsgProcFn>("setDebugMsgProc");
    e.setSystemPath = library_.function<SetSystemPathFn>("setSystemPath");
    if (!missing.empty() && lacking == Lacking::refuse) {
        std::string names;
        for (const std::string& name : missing) {
            names += names.empty() ? name : ", " + name;
        }
        error_ = "library " + path + " is not a camera driver: it lacks " + names;
        entries_ = DriverEntryPoints{};
        library_.close();
    }
}

std::string defaultLibraryPath() {
#if defined(_WIN32)
    const char* const name = "quiltra.dll";
#else
    const char* const name = "libquiltra.so";
#endif
    return (std::filesystem::path(platform::programFolder()) / name).string();
}

}  // namespace quiltra::tools

// What quiltra-config asks of the operating system: the physical memory and the folders the
// library loader searches for a name without a folder.
#pragma once

#include <string>
#include <vector>

namespace quiltra::config_check {

// Bytes of physical memory; 0 when unknown.
double physicalMemoryBytes();

// Where the loader looks first when the tool runs from a build or an installed Quiltra: the
// folder of libquiltra.so (the program's own in a build, the installed library folder beside
// the installed tools' folder) on Linux, the program's folder on Windows, where the library
// and the tools lie together.
std::string defaultLoaderFolder();

// Where the loader looks for a library named without a folder, in its order, with
// `loaderFolder` (the library's run path on Linux, the host program's folder on Windows) in
// its place: Linux: LD_LIBRARY_PATH, `loaderFolder`, the folders of /etc/ld.so.conf (and the
// files it includes), the system's library folders; Windows: `loaderFolder`, the system
// folder, the Windows folder, the current folder, PATH. Empty entries are left out.
std::vector<std::string> loaderSearchFolders(const std::string& loaderFolder);

// The file name the loader looks for: on Windows a name without an extension gets ".dll".
std::string loaderFileName(const std::string& name);

}  // namespace quiltra::config_check

// Names the calling thread so a debugger shows who is who ("quiltra-cam3", "quiltra-timer").
#pragma once

namespace quiltra::platform {

// Names longer than 15 characters are cut off Windows.
void setCurrentThreadName(const char* name);

}  // namespace quiltra::platform

#include "platform/message_box.h"

#include <string>

#include "platform/debug_output.h"

namespace quiltra::platform {

void sendMessageBoxLine(const char* text) {
    std::string line = "Quiltra configuration: ";
    line += text != nullptr ? text : "";
    line += '\n';
    outputDebugString(line.c_str());
}

}  // namespace quiltra::platform

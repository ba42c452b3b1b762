#include "notices.h"

#include <cstdarg>

#include "platform/debug_output.h"
#include "platform/fixed_text.h"

namespace quiltra::simcam {

namespace {

constexpr std::size_t kTextSize = 512;

std::string formatLine(const char* format, va_list args) {
    char text[kTextSize];
    platform::formatTextV(text, sizeof text, format, args);
    return text;
}

}  // namespace

void Notices::debug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    debug_.push_back("simcam: " + formatLine(format, args) + "\n");
    va_end(args);
}

void Notices::fault(CmdCallback callback, int grabber, int port, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = "simcam: " + formatLine(format, args);
    va_end(args);
    debug_.push_back(text + "\n");
    if (callback != nullptr) {
        commands_.push_back(Command{callback, grabber, port, std::move(text)});
    }
}

void Notices::command(CmdCallback callback, int grabber, int port, const char* format, ...) {
    if (callback == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    commands_.push_back(Command{callback, grabber, port, "simcam: " + formatLine(format, args)});
    va_end(args);
}

void Notices::send(DebugMsgProc proc) {
    for (const std::string& text : debug_) {
        if (proc != nullptr) {
            proc(text.c_str());
        } else {
            platform::outputDebugString(text.c_str());
        }
    }
    for (const Command& command : commands_) {
        command.callback(command.grabber, command.port, command.text.c_str());
    }
    debug_.clear();
    commands_.clear();
}

}  // namespace quiltra::simcam

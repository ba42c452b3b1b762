#include "control/scanner_commands.h"

#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>

#include "config/scanner_builder.h"
#include "control/argument_reader.h"
#include "driver/driver_binding.h"
#include "platform/fixed_text.h"
#include "scanner/scanner.h"

namespace quiltra {

namespace {

// The host's result buffer: texts are appended at the end of what is there, cut to the
// space that remains; it is always NUL-terminated.
class Reply {
public:
    Reply(char* buffer, std::size_t size) : buffer_(buffer), size_(size) { buffer_[0] = '\0'; }

    void append(const char* text) {
        length_ += platform::copyText(buffer_ + length_, size_ - length_, text);
    }
    void appendFormat(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        va_list args;
        va_start(args, format);
        length_ += platform::formatTextV(buffer_ + length_, size_ - length_, format, args);
        va_end(args);
    }

private:
    char* buffer_;
    std::size_t size_;
    std::size_t length_ = 0;
};

// The "fill" argument as a number, when it has a value of at least one character.
struct Fill {
    bool given = false;
    int value = 0;
};

Fill readFill(const char* arguments) {
    const ArgumentValue fill = readArgument(arguments, "fill");
    if (fill.length == 0) {
        return {};
    }
    return {true, platform::parseInt(fill.str().c_str())};
}

// A "PassThru" or "value" argument that fits the argument buffer; empty otherwise.
std::string readBoundedValue(const char* arguments, const char* key) {
    const ArgumentValue value = readArgument(arguments, key);
    if (value.length == 0 || value.length >= static_cast<std::size_t>(kArgumentValueSize)) {
        return {};
    }
    return value.str();
}

int reset(Scanner& scanner, const char* arguments) {
    std::lock_guard guard(scanner.lock);
    scanner.resetCycle();
    const Fill fill = readFill(arguments);
    if (fill.given && fill.value >= 0) {
        scanner.fillMissing(fill.value);
    }
    return 1;
}

int clear(Scanner& scanner, const char* arguments) {
    std::lock_guard guard(scanner.lock);
    scanner.fillMissing(readFill(arguments).value);  // the low byte: -1 fills with 255
    return 1;
}

int trig(Scanner& scanner, const char* arguments) {
    std::lock_guard guard(scanner.lock);
    const Fill fill = readFill(arguments);
    if (!fill.given || fill.value >= 0) {
        scanner.fillMissing(fill.value);
    }
    // The host reads the image as it is now, as after a completion: under the scanner lock.
    scanner.notifyHost(scanner.grabber, scanner.port);
    return 1;
}

// The status reply of "get" with "value=imageStatus", read without the scanner lock.
void writeStatus(const Scanner& scanner, Reply& reply) {
    const uint32_t scanTime = scanner.scanTime;
    const uint32_t scanCount = scanner.scanCount;
    reply.appendFormat(
        "{'imageCount': %d, 'activeGrabTimeoutCount': %d,'activeGrabTime': %d, 'trigTime': %d",
        static_cast<int>(scanner.imageCount.load()),
        static_cast<int>(scanner.activeGrabTimeoutCount.load()), static_cast<int>(scanTime),
        static_cast<int>(scanCount != 0 ? scanTime / scanCount : 0));
    int i = 0;
    for (const auto& camera : scanner.cameras) {
        reply.appendFormat(", 'camera%d': {'imageCount': %d, 'activeGrabTimeoutCount': %d}", i++,
                           static_cast<int>(camera->imageCount.load()),
                           static_cast<int>(camera->activeGrabTimeoutCount.load()));
    }
    reply.append("}");
}

// The statistics lines of "stat", each one debug message, whatever the verbose flag says.
void writeStatistics(const Scanner& scanner) {
    const DriverBinding* binding = scanner.binding;
    if (binding == nullptr || binding->debugMsgProc() == nullptr) {
        return;
    }
    const uint32_t scanTime = scanner.scanTime;
    const uint32_t scanCount = scanner.scanCount;
    binding->plainMessage("---------------------------------------------------\n");
    binding->plainMessage("%s: last scan %d ms, avg trig period %d ms\n", scanner.name.c_str(),
                          static_cast<int>(scanTime),
                          static_cast<int>(scanCount != 0 ? scanTime / scanCount : 0));
    binding->plainMessage(" Image count %d timeout count %d\n",
                          static_cast<int>(scanner.imageCount.load()),
                          static_cast<int>(scanner.activeGrabTimeoutCount.load()));
    int n = 1;
    for (const auto& camera : scanner.cameras) {
        binding->plainMessage(" Cam[%d] image count %d total %d timeouts %d\n", n++,
                              static_cast<int>(camera->scanIndex.load()),
                              static_cast<int>(camera->imageCount.load()),
                              static_cast<int>(camera->activeGrabTimeoutCount.load()));
    }
}

// A command the scanner does not handle: every camera's driver gets it with a reply buffer
// of its own, also after a refusal; the replies are appended in camera order. 1 when every
// driver answered 1 (also without cameras). No lock is held while the drivers run.
int passCommandOn(const Scanner& scanner, const char* command, const char* arguments,
                  Reply& reply) {
    std::size_t accepted = 0;
    for (const auto& camera : scanner.cameras) {
        char buffer[kCameraReplySize] = {};
        const ExecCmdFn exec =
            camera->binding != nullptr ? camera->binding->entries().execCmd : nullptr;
        if (exec != nullptr &&
            exec(camera->grabber, camera->port, command, arguments, buffer, sizeof buffer) == 1) {
            ++accepted;
        }
        buffer[sizeof buffer - 1] = '\0';  // a driver that filled the buffer to its end
        reply.append(buffer);
    }
    return accepted == scanner.cameras.size() ? 1 : 0;
}

}  // namespace

int execScannerCommand(Scanner& scanner, const char* command, const char* arguments, char* result,
                       int resultSize) {
    if (result == nullptr || resultSize < 1) {
        return 0;
    }
    Reply reply(result, static_cast<std::size_t>(resultSize));
    if (command == nullptr) {
        return 0;
    }
    if (equalsIgnoringCase(command, "reset")) {
        return reset(scanner, arguments);
    }
    if (equalsIgnoringCase(command, "clear")) {
        return clear(scanner, arguments);
    }
    if (equalsIgnoringCase(command, "trig")) {
        return trig(scanner, arguments);
    }
    if (equalsIgnoringCase(command, "set")) {
        const std::string passThru = readBoundedValue(arguments, "PassThru");
        if (!passThru.empty()) {
            setPassThruList(scanner, passThru.c_str());
            return 1;
        }
    } else if (equalsIgnoringCase(command, "get")) {
        if (equalsIgnoringCase(readBoundedValue(arguments, "value").c_str(), "imageStatus")) {
            writeStatus(scanner, reply);
            return 1;
        }
    } else if (equalsIgnoringCase(command, "stat")) {
        writeStatistics(scanner);
        return 1;
    }
    return passCommandOn(scanner, command, arguments, reply);
}

}  // namespace quiltra

// A scanner's commands, as execCmd reaches them on its port: re-arming the cycle, filling
// the unscanned part of the final image, handing the image over, the pass-through list, the
// status reply and the statistics, and every other command passed on to the driver of each
// of its cameras.
#pragma once

namespace quiltra {

class Scanner;

// Size of the buffer that a "PassThru" or "value" argument is copied into (so such a value
// has at most kArgumentValueSize - 1 characters), and of each camera's reply buffer.
inline constexpr int kArgumentValueSize = 512;
inline constexpr int kCameraReplySize = 128;

// Runs `command` (compared without regard to ASCII case, in this order): "reset", "clear",
// "trig", "set" with a "PassThru" argument, "get" with "value=imageStatus", "stat"; any
// other command, and "set" or "get" without their argument, is passed on to every camera
// with the arguments unchanged, their replies appended. The reply is cut to fit resultSize
// and always NUL-terminated; the buffer is made an empty text first. Answers 1 when the
// command was executed (passed on: when every camera's driver answered 1), else 0. A null
// result buffer or a resultSize below 1 does nothing and answers 0; so does a null command,
// after emptying the buffer. Commands that change the cycle or the final image take the
// scanner lock ("trig" calls the host back with it held, on the calling thread); the
// drivers are called with no library lock held.
int execScannerCommand(Scanner& scanner, const char* command, const char* arguments, char* result,
                       int resultSize);

}  // namespace quiltra

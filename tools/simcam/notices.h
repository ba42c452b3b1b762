// Texts for the host (debug messages and command-callback texts) gathered while the
// simulator's lock is held and sent after it is released, so that a host callback may call
// back into the simulator without deadlocking.
#pragma once

#include <quiltra/camera_driver.h>

#include <string>
#include <vector>

namespace quiltra::simcam {

class Notices {
public:
    // A debug message; "simcam: " is put in front and "\n" after it.
    void debug(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // A fault report: a debug message as above, and the same text (without "\n") for the
    // port's command callback when it has one.
    void fault(CmdCallback callback, int grabber, int port, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 5, 6)))
#endif
        ;
    // A text for the port's command callback only.
    void command(CmdCallback callback, int grabber, int port, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 5, 6)))
#endif
        ;

    // Hands every debug message to proc (to the system debugger output when proc is null)
    // and calls the command callbacks, in the order gathered; then forgets them. Call it with
    // no lock held.
    void send(DebugMsgProc proc);

private:
    struct Command {
        CmdCallback callback;
        int grabber;
        int port;
        std::string text;
    };
    std::vector<std::string> debug_;
    std::vector<Command> commands_;
};

}  // namespace quiltra::simcam

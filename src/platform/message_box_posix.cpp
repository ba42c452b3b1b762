#include "platform/message_box.h"

namespace quiltra::platform {

void showMessageBox(void* /*ownerWindow*/, const char* text, const char* /*caption*/) {
    sendMessageBoxLine(text);
}

}  // namespace quiltra::platform

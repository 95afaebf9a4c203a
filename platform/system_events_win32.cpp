#include "platform/system_events.hpp"

#include <windows.h>

namespace quillpost {

// One pass over the thread's message queue, so that the windows of a host
// that called from its user interface thread keep answering during a send.
void ProcessSystemEvents() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

}  // namespace quillpost

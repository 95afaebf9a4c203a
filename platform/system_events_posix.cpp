#include "platform/system_events.hpp"

namespace quillpost {

// Nothing is queued for a thread here; a host with an event loop says so
// with its hook.
void ProcessSystemEvents() {}

}  // namespace quillpost

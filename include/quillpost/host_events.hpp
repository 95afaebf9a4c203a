// Letting the host process its pending events. While a message waits for
// the server, each pass of the wait calls ProcessPendingEvents once, so that
// the host's own work on the calling thread can go on. A host with an event
// loop installs a hook that runs what is pending and returns; without one,
// nothing happens.
#pragma once

#include <functional>

namespace quillpost {

using PendingEventsHook = std::function<void()>;

// Installs `hook` for the calling thread only; an empty hook removes it.
// Returns the hook that was installed before.
PendingEventsHook SetPendingEventsHook(PendingEventsHook hook);

// Runs the calling thread's hook once, when one is installed. What the hook
// raises reaches the caller of the wait.
void ProcessPendingEvents();

}  // namespace quillpost

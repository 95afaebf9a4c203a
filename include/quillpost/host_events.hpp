// Letting the host process its pending events. While a message waits for
// the server, each pass of the wait calls ProcessPendingEvents once, so that
// the host's own work on the calling thread can go on. A host with an event
// loop installs a hook that runs what is pending and returns; without one,
// nothing happens.
#pragma once

#include <cstdint>
#include <functional>

namespace quillpost {

using PendingEventsHook = std::function<void()>;

// Installs `hook` for the calling thread only; an empty hook removes it.
// Returns the hook that was installed before.
PendingEventsHook SetPendingEventsHook(PendingEventsHook hook);

// Runs the calling thread's hook once, when one is installed. What the hook
// raises reaches the caller of the wait.
void ProcessPendingEvents();

// Progress of the attachments of a send on the calling thread: the hook gets
// the number of bytes of an attachment file just handed on to the server,
// after each block read, so that a tool can show how far a long send has
// come. Installs `hook` for the calling thread only; an empty hook removes
// it. Returns the hook that was installed before.
using AttachmentProgressHook = std::function<void(std::uint64_t bytes)>;
AttachmentProgressHook SetAttachmentProgressHook(AttachmentProgressHook hook);

// Runs the calling thread's progress hook once, when one is installed.
void ReportAttachmentProgress(std::uint64_t bytes);

}  // namespace quillpost

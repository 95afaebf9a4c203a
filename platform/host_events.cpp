#include <quillpost/host_events.hpp>

#include "platform/system_events.hpp"

#include <utility>

namespace quillpost {

namespace {

thread_local PendingEventsHook t_hook;
thread_local AttachmentProgressHook t_progress;

}  // namespace

PendingEventsHook SetPendingEventsHook(PendingEventsHook hook) {
    return std::exchange(t_hook, std::move(hook));
}

void ProcessPendingEvents() {
    if (!t_hook) {
        ProcessSystemEvents();
        return;
    }
    // A copy runs, so that a hook may replace or remove itself while it runs.
    const PendingEventsHook hook = t_hook;
    hook();
}

AttachmentProgressHook SetAttachmentProgressHook(AttachmentProgressHook hook) {
    return std::exchange(t_progress, std::move(hook));
}

void ReportAttachmentProgress(std::uint64_t bytes) {
    if (!t_progress) return;
    const AttachmentProgressHook hook = t_progress;
    hook(bytes);
}

}  // namespace quillpost

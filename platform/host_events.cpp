#include <quillpost/host_events.hpp>

#include <utility>

namespace quillpost {

namespace {

thread_local PendingEventsHook t_hook;

}  // namespace

PendingEventsHook SetPendingEventsHook(PendingEventsHook hook) {
    return std::exchange(t_hook, std::move(hook));
}

void ProcessPendingEvents() {
    if (!t_hook) return;
    // A copy runs, so that a hook may replace or remove itself while it runs.
    const PendingEventsHook hook = t_hook;
    hook();
}

}  // namespace quillpost

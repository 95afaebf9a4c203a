// What the system itself has pending for the calling thread, run when the
// host installed no hook of its own.
#pragma once

namespace quillpost {

void ProcessSystemEvents();

}  // namespace quillpost

#pragma once

namespace lumira::platform {

// Sets XDG_RUNTIME_DIR, when the session has none, to the private folder that Qt and the
// browser engine would fall back on anyway ("runtime-<user>" in the temporary folder, mode
// 0700), so they use it without a warning. Call before the application object exists.
void ensureRuntimeFolder();

} // namespace lumira::platform

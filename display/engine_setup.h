#pragma once

namespace lumira {

// Settles how the browser engine will run, before the application object exists: its
// sandbox (off only under root, where the engine refuses it, with one line on stderr) and
// its start-up banner kept out of the program's output (QT_LOGGING_RULES still rules).
void prepareEngineProcess();

} // namespace lumira

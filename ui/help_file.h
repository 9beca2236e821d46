#pragma once

namespace lumira {

// Opens "Lumira帮助.txt" of the program folder in the desktop's text viewer, once per call.
void openHelpFile();

} // namespace lumira

#include "ui/help_file.h"

#include "common/program_folder.h"
#include "platform/text_viewer.h"

namespace lumira {

void openHelpFile() {
    platform::openInTextViewer(inProgramFolder(QStringLiteral("Lumira帮助.txt")));
}

} // namespace lumira

#pragma once

#include <QString>

namespace lumira {

// The folder of the running executable: where lumira.ini, start.htm and the help file live.
QString programFolder();

// programFolder(), "/" and the name, joined by plain concatenation.
QString inProgramFolder(const QString& name);

} // namespace lumira

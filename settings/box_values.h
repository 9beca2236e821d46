#pragma once

#include <QString>
#include <optional>
#include <string>

// The settings window keeps its state as box text; these turn that text into what the
// boxes show, what the periodic check puts in and what the nudge buttons write.
namespace lumira {

// The stored value as the box shows it when the window loads: the text itself when it is
// a number, otherwise the load value.
QString loadedBoxText(const std::string& stored, const QString& loadValue);

// The text the periodic check puts into a box that does not hold a number; nothing when it
// does.
std::optional<QString> periodicReplacement(const QString& box, const QString& checkValue);

// The box's number, for placement; `fallback` when it holds none.
double boxNumber(const QString& box, double fallback);

// The box nudged by delta, written with up to 15 significant digits, no trailing zeros and
// no separator for whole numbers; a box without a number stays as it is.
QString nudged(const QString& box, int delta);

// A number as the settings window writes it (see nudged), independent of the locale.
QString formatNumber(double value);

} // namespace lumira

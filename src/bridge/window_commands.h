// The window commands the page sends for its own title bar: move (with a new size) and
// minimise act on the window that holds the target handle, maximise and restore on the main
// window itself.
#pragma once

#include <QByteArray>
#include <QVector>
#include <QWidget>

namespace WindowCommands {

// Whether a page query is the move command, which is recognised by its start alone.
bool isMoveText(const QByteArray &request);
bool isMinimizeText(const QByteArray &request);

// The integers of a move text: everything after "moveWindow" and the one character following
// it, read as signed decimal integers each optionally followed by one ","; reading stops at
// the first place that holds no integer. A blank before a comma therefore ends the list.
QVector<int> parseMoveText(const QByteArray &request);

// Moves the window by dx, dy and gives it the size width × height; a minimised or maximised
// window is restored to that size at its current corner instead. The result is kept to what the
// screens can show: no larger than all of them, at least partly on them. False (and nothing
// done) when the text does not hold exactly four integers.
bool moveWindow(WId target, const QByteArray &request);
// Minimises the window, or restores it when it is minimised.
void toggleMinimized(WId target);

} // namespace WindowCommands

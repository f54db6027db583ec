#include "window_commands.h"

#include "window_ops.h"

#include <sstream>
#include <string>

namespace WindowCommands {

namespace {
constexpr char kMovePrefix[] = "moveWindow";
// The prefix and the separator after it, whatever that is.
constexpr int kMoveArgumentsStart = sizeof(kMovePrefix);
} // namespace

bool isMoveText(const QByteArray &request)
{
    return request.startsWith(kMovePrefix);
}

bool isMinimizeText(const QByteArray &request)
{
    return request == R"({"funcname":"minisizeWindow"})";
}

QVector<int> parseMoveText(const QByteArray &request)
{
    QVector<int> values;
    if (request.size() <= kMoveArgumentsStart)
        return values;
    std::istringstream stream(request.mid(kMoveArgumentsStart).toStdString());
    int value = 0;
    // operator>> skips blanks before a number, but a blank before the comma leaves the comma
    // unskipped and the next read fails there.
    while (stream >> value) {
        values.append(value);
        if (stream.peek() == ',')
            stream.get();
    }
    return values;
}

bool moveWindow(WId target, const QByteArray &request)
{
    const QVector<int> values = parseMoveText(request);
    if (values.size() != 4)
        return false;
    const int dx = values.at(0), dy = values.at(1), width = values.at(2), height = values.at(3);

    QWidget *window = WindowOps::rootWindow(target);
    if (!window)
        return true;
    const QRect rect = WindowOps::windowRect(window);
    if (WindowOps::showState(window) != WindowOps::ShowState::Normal) {
        // A dragged title bar of a minimised or maximised window means "back to normal here".
        WindowOps::restoreTo(window, QRect(rect.topLeft(), QSize(width, height)));
    } else {
        WindowOps::setWindowRect(window, QRect(rect.left() + dx, rect.top() + dy, width, height));
    }
    return true;
}

void toggleMinimized(WId target)
{
    QWidget *window = WindowOps::rootWindow(target);
    if (!window)
        return;
    if (WindowOps::showState(window) == WindowOps::ShowState::Minimized)
        WindowOps::restore(window);
    else
        WindowOps::minimizeWithoutActivating(window);
}

} // namespace WindowCommands

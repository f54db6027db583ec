#include "window_commands.h"

#include "window_ops.h"

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>

namespace WindowCommands {

namespace {
constexpr char kMovePrefix[] = "moveWindow";
// The prefix and the separator after it, whatever that is.
constexpr int kMoveArgumentsStart = sizeof(kMovePrefix);
// How much of a window stays on the screens however far the page asks to move it, so that its
// title bar can still be grabbed.
constexpr int64_t kKeptVisible = 64;

// The rectangle asked for, made one that the screens can show: no larger than all of them
// together (a window of 100000 × 100000 made the X server's shared image allocation fail) and
// partly on them, its top not above them. In 64 bits, since left + dx can pass the end of int.
QRect fitToScreens(int64_t left, int64_t top, int64_t width, int64_t height)
{
    QRect screens = WindowOps::screensArea();
    if (screens.isEmpty())
        screens = QRect(0, 0, 1 << 15, 1 << 15);
    const int64_t w = std::clamp<int64_t>(width, 1, screens.width());
    const int64_t h = std::clamp<int64_t>(height, 1, screens.height());
    const int64_t screensLeft = screens.left(), screensTop = screens.top();
    const int64_t x = std::clamp<int64_t>(left, screensLeft - w + std::min(w, kKeptVisible),
                                          screensLeft + screens.width() - std::min(w, kKeptVisible));
    const int64_t y = std::clamp<int64_t>(top, screensTop, screensTop + screens.height() - std::min(h, kKeptVisible));
    return QRect(int(x), int(y), int(w), int(h));
}

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
        WindowOps::restoreTo(window, fitToScreens(rect.left(), rect.top(), width, height));
    } else {
        WindowOps::setWindowRect(window,
                                 fitToScreens(int64_t(rect.left()) + dx, int64_t(rect.top()) + dy, width, height));
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

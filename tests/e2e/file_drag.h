// Drags files onto an X window as a file manager does, over XDND (version 5), offering only Copy.
// The test itself is the drag source, so neither the pointer nor a window manager takes part:
// the target answers the source's messages and fetches the files' addresses from it. Include it
// after every Qt header: Xlib's macros clash with Qt's names.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QUrl>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

class FileDrag {
public:
    enum Outcome { Dropped, Refused, NoAnswer };

    FileDrag(Display *x, const QList<QUrl> &files) : m_x(x)
    {
        for (const QUrl &file : files)
            m_uriList += file.toEncoded() + "\r\n";
        auto atom = [x](const char *name) { return XInternAtom(x, name, 0); };
        m_enter = atom("XdndEnter");
        m_position = atom("XdndPosition");
        m_status = atom("XdndStatus");
        m_leave = atom("XdndLeave");
        m_drop = atom("XdndDrop");
        m_finished = atom("XdndFinished");
        m_selection = atom("XdndSelection");
        m_copy = atom("XdndActionCopy");
        m_uriType = atom("text/uri-list");
        m_targets = atom("TARGETS");
    }

    // Enters the top-level window target at (x, y) of it, drops there if the target accepts, and
    // waits for it to say it has finished. What went wrong is in error().
    Outcome dropOnto(Window target, int x, int y, int timeoutMs = 15000)
    {
        const Window root = DefaultRootWindow(m_x);
        m_source = XCreateSimpleWindow(m_x, root, 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(m_x, m_selection, m_source, CurrentTime);
        int rootX = 0;
        int rootY = 0;
        Window child = 0;
        XTranslateCoordinates(m_x, target, root, x, y, &rootX, &rootY, &child);

        Outcome outcome = NoAnswer;
        m_timer.start();
        send(target, m_enter, {long(m_source), 5L << 24, long(m_uriType), 0, 0});
        send(target, m_position, {long(m_source), 0, (long(rootX) << 16) | rootY, CurrentTime, long(m_copy)});
        XClientMessageEvent answer{};
        if (!waitFor(m_status, &answer, timeoutMs)) {
            m_error = QStringLiteral("the window did not answer the drag");
        } else if (!(answer.data.l[1] & 1)) {
            send(target, m_leave, {long(m_source), 0, 0, 0, 0});
            outcome = Refused;
        } else {
            send(target, m_drop, {long(m_source), 0, CurrentTime, 0, 0});
            if (waitFor(m_finished, &answer, timeoutMs))
                outcome = Dropped;
            else
                m_error = QStringLiteral("the window did not finish the drop");
        }
        XDestroyWindow(m_x, m_source);
        XFlush(m_x);
        return outcome;
    }

    QString error() const { return m_error; }

private:
    void send(Window target, Atom type, std::initializer_list<long> data)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = target;
        event.xclient.message_type = type;
        event.xclient.format = 32;
        int i = 0;
        for (long value : data)
            event.xclient.data.l[i++] = value;
        XSendEvent(m_x, target, 0, NoEventMask, &event);
        XFlush(m_x);
    }

    // Serves the target's requests for the addresses until the message of the given type comes.
    bool waitFor(Atom type, XClientMessageEvent *message, int timeoutMs)
    {
        for (;;) {
            while (!XPending(m_x)) {
                const qint64 left = timeoutMs - m_timer.elapsed();
                if (left <= 0)
                    return false;
                pollfd connection{ConnectionNumber(m_x), POLLIN, 0};
                poll(&connection, 1, int(left));
            }
            XEvent event;
            XNextEvent(m_x, &event);
            if (event.type == SelectionRequest) {
                serve(event.xselectionrequest);
            } else if (event.type == ClientMessage && event.xclient.message_type == type) {
                *message = event.xclient;
                return true;
            }
        }
    }

    void serve(const XSelectionRequestEvent &request)
    {
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.time = request.time;
        reply.xselection.property = 0;
        const Atom property = request.property ? request.property : request.target;
        if (request.target == m_uriType) {
            XChangeProperty(m_x, request.requestor, property, m_uriType, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(m_uriList.constData()), m_uriList.size());
            reply.xselection.property = property;
        } else if (request.target == m_targets) {
            const Atom targets[] = {m_targets, m_uriType};
            XChangeProperty(m_x, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(targets), 2);
            reply.xselection.property = property;
        }
        XSendEvent(m_x, request.requestor, 0, NoEventMask, &reply);
        XFlush(m_x);
    }

    Display *m_x;
    QByteArray m_uriList;
    Window m_source = 0;
    QElapsedTimer m_timer;
    QString m_error;
    Atom m_enter, m_position, m_status, m_leave, m_drop, m_finished, m_selection, m_copy, m_uriType, m_targets;
};

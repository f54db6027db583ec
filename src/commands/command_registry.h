// The page's commands by name. Each subsystem registers its own; the main window's dispatcher
// looks them up here. Names are matched exactly and case-sensitively, in the order of the page's
// command table, and a name nobody registered gets no reply.
#pragma once

#include "command_args.h"
#include "query_callback.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <utility>

// A command reads its arguments, does its work and ends in at most one reply.
using CommandHandler = std::function<void(const CommandArgs &args, const QueryCallbackPtr &callback)>;

// The two endings of a command that answers. A failure reply always carries the code the caller
// gives (every command gives 0).
void replySuccess(const QueryCallbackPtr &callback, const QString &text);
void replyFailure(const QueryCallbackPtr &callback, int code, const QString &text);

class CommandRegistry {
public:
    // Every command the page can send, in the order they are matched.
    static const QStringList &commandNames();

    // Binds handler to funcname. owner names who registered it, so that an object that goes
    // away can take its commands with it. False (and nothing bound) for a name outside the
    // page's table or one already bound.
    bool add(const QString &funcname, CommandHandler handler, const void *owner = nullptr);
    // Unbinds every command registered by owner.
    void removeOwner(const void *owner);

    // The command bound to funcname, or null (no such command: no reply). Valid until the
    // registry changes; take a copy to run a command that may unregister commands.
    const CommandHandler *find(const QString &funcname) const;
    // Runs the command named funcname; false when none is bound to that name (no reply).
    bool dispatch(const QString &funcname, const CommandArgs &args, const QueryCallbackPtr &callback) const;

    bool contains(const QString &funcname) const { return m_commands.contains(funcname); }
    // The bound names, in table order.
    QStringList registeredNames() const;

    // Binds each (name, command) pair; every command is run with target as its first argument.
    template <class Target>
    using TargetCommand = void (*)(Target &, const CommandArgs &, const QueryCallbackPtr &);
    template <class Target>
    void addAll(Target &target, std::initializer_list<std::pair<const char *, TargetCommand<Target>>> commands,
                const void *owner = nullptr)
    {
        for (const auto &command : commands) {
            const TargetCommand<Target> run = command.second;
            add(QLatin1String(command.first),
                [&target, run](const CommandArgs &args, const QueryCallbackPtr &callback) { run(target, args, callback); },
                owner);
        }
    }

private:
    struct Entry {
        CommandHandler handler;
        const void *owner = nullptr;
    };
    QHash<QString, Entry> m_commands;
};

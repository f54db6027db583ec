// Which bound programs a running process runs: its own program file, the script an interpreter
// runs, or the Windows program Wine runs.
#pragma once

#include <QMap>
#include <QString>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// One lives as long as the monitor: it remembers what the command lines of the processes it has
// read name.
class ProgramMatch {
public:
    // How often (in scans) a process's command line is read again.
    static constexpr unsigned kRereadScans = 10;

    // Before each scan. programs: the bound program paths, as stored. Reads the start of each bound
    // file (to tell a script) and follows links, as they may have changed since the last scan.
    void beginScan(const QList<QString> &programs);
    // Sets (*seen)[binding] for every bound program the process runs; image is its program file.
    void visit(int pid, const char *image, size_t length, QMap<QString, bool> *seen);
    // After a complete scan: forgets the processes that have ended.
    void endScan();

    // The script an interpreter's command line runs: the first argument that is not an option (or
    // the one after "--"); empty when it runs code given inline or read from its input. shell:
    // the interpreter is a shell, whose options differ from the others'.
    static std::string scriptArgument(const std::vector<std::string> &arguments, bool shell);
    // The first argument naming a Windows program (ending in ".exe"); empty when none does.
    static std::string windowsProgramArgument(const std::vector<std::string> &arguments);

private:
    enum class Interpreter { None, Shell, Other };
    Interpreter interpreter(const std::string &image) const;
    // Marks the bindings that path names.
    void mark(const std::string &path, QMap<QString, bool> *seen) const;
    // path, and the file it leads to through links when that differs.
    static void addWithTarget(const std::string &path, std::vector<std::string> *paths);
    std::string resolveRelative(int pid, const std::string &path) const;
    std::string resolveWindowsPath(int pid, const std::string &path) const;

    std::unordered_multimap<std::string, QString> m_wanted; // path (as stored or resolved) → binding
    std::unordered_set<std::string> m_interpreters;          // named by the bound scripts' #! lines
    struct Launched {
        std::string image;              // the program file when the command line was read
        std::vector<std::string> paths; // what the command line names, as written and resolved
        unsigned seenAt = 0;            // the last scan that saw the process
    };
    std::unordered_map<int, Launched> m_launched; // process id → what its command line names
    unsigned m_scan = 0;
    bool m_scripts = false;
    bool m_windowsPrograms = false;
    std::string m_image;
    std::vector<std::string> m_arguments;
};

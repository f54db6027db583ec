#include "program_match.h"

#include "process_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// Interpreters that run a script named on their command line. Versioned names (python3.11,
// lua5.4) count as their family.
const char *const kShells[] = {"sh", "dash", "bash", "zsh", "ksh", "mksh", "fish", "csh", "tcsh"};
const char *const kInterpreters[] = {"python", "pypy", "perl", "ruby", "node", "nodejs", "lua",
                                     "luajit", "tclsh", "wish", "php", "pwsh"};

// Wine's loaders: the process that runs a Windows program has one of these as its program file.
const char *const kWineLoaders[] = {"wine", "wine64", "wine-preloader", "wine64-preloader"};

// Options after which an interpreter other than a shell runs no script file: code given inline,
// a module by name. A shell runs inline code when its one-letter options include c. An option
// not known here is taken as one without a value: what follows it is then taken for the script,
// which at worst names no bound file.
const char *const kInlineOptions[] = {"-c", "-e", "-m", "-p", "--eval", "--print", "--command"};
// Options that take the next argument as their value.
const char *const kShellValueOptions[] = {"-o", "+o", "-O", "+O", "--rcfile", "--init-file"};
const char *const kValueOptions[] = {"-W", "-X", "-r", "--require"};

bool oneOf(const char *text, size_t length, const char *const *list, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (strncmp(text, list[i], length) == 0 && list[i][length] == '\0')
            return true;
    return false;
}

bool oneOf(const std::string &text, const char *const *list, size_t count)
{
    return oneOf(text.c_str(), text.size(), list, count);
}

const char *baseName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

bool endsWithExe(const std::string &text)
{
    if (text.size() <= 4)
        return false;
    const char *end = text.c_str() + text.size() - 4;
    return end[0] == '.' && std::tolower(end[1]) == 'e' && std::tolower(end[2]) == 'x' && std::tolower(end[3]) == 'e';
}

std::string resolved(const std::string &path)
{
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The program a #! line names, resolved; "/usr/bin/env NAME" names NAME as found on the path.
std::string shebangInterpreter(const QString &script)
{
    QFile file(script);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = file.readLine(512).trimmed();
    if (!line.startsWith("#!"))
        return {};
    const QList<QByteArray> words = line.mid(2).simplified().split(' ');
    if (words.isEmpty() || words.first().isEmpty())
        return {};
    QString program = QString::fromLocal8Bit(words.first());
    if (QFileInfo(program).fileName() == QLatin1String("env")) {
        // env -S or other options: the first word that is not an option.
        program.clear();
        for (int i = 1; i < words.size() && program.isEmpty(); ++i)
            if (!words.at(i).startsWith('-'))
                program = QStandardPaths::findExecutable(QString::fromLocal8Bit(words.at(i)));
    }
    return program.isEmpty() ? std::string() : resolved(program.toStdString());
}

bool isScript(const QString &path)
{
    // Only a regular file is opened: opening a named pipe would wait for a writer.
    if (!QDir::isAbsolutePath(path) || !QFileInfo(path).isFile())
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == "#!";
}

} // namespace

void ProgramMatch::beginScan(const QList<QString> &programs)
{
    ++m_scan;
    m_wanted.clear();
    m_interpreters.clear();
    const bool hadScripts = m_scripts, hadWindowsPrograms = m_windowsPrograms;
    m_scripts = m_windowsPrograms = false;
    // A binding keeps the path as the user chose it, which may lead through links (a folder link,
    // or a name that points to a versioned file); the system names programs by resolved paths, so
    // such a binding also matches the file its path leads to now. A path not written in clean form
    // is taken only as it is.
    for (const QString &program : programs) {
        m_wanted.emplace(program.toStdString(), program);
        if (QDir::isAbsolutePath(program) && QDir::cleanPath(program) == program) {
            const QString target = QFileInfo(program).canonicalFilePath();
            if (!target.isEmpty() && target != program)
                m_wanted.emplace(target.toStdString(), program);
        }
        if (program.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) {
            m_windowsPrograms = true;
        } else if (isScript(program)) {
            m_scripts = true;
            const std::string interpreter = shebangInterpreter(program);
            if (!interpreter.empty())
                m_interpreters.insert(interpreter);
        }
    }
    if (m_scripts != hadScripts || m_windowsPrograms != hadWindowsPrograms)
        m_launched.clear(); // read with other questions
}

void ProgramMatch::endScan()
{
    for (auto it = m_launched.begin(); it != m_launched.end();)
        it = it->second.seenAt == m_scan ? std::next(it) : m_launched.erase(it);
}

ProgramMatch::Interpreter ProgramMatch::interpreter(const std::string &image) const
{
    const char *name = baseName(image);
    size_t length = strlen(name);
    while (length > 0 && (std::isdigit(static_cast<unsigned char>(name[length - 1])) || name[length - 1] == '.'))
        --length;
    if (oneOf(name, length, kShells, sizeof kShells / sizeof *kShells))
        return Interpreter::Shell;
    if (oneOf(name, length, kInterpreters, sizeof kInterpreters / sizeof *kInterpreters) || m_interpreters.count(image))
        return Interpreter::Other;
    return Interpreter::None;
}

void ProgramMatch::visit(int pid, const char *image, size_t length, QMap<QString, bool> *seen)
{
    m_image.assign(image, length);
    mark(m_image, seen);
    // The command line is read only for the few processes that can run a bound script or Windows
    // program: the scan reads one link for every other process.
    const Interpreter kind = m_scripts ? interpreter(m_image) : Interpreter::None;
    const char *name = baseName(m_image);
    const bool wine = m_windowsPrograms && oneOf(name, strlen(name), kWineLoaders, sizeof kWineLoaders / sizeof *kWineLoaders);
    if (kind == Interpreter::None && !wine)
        return;
    // What a process's command line names rarely changes while it runs, so it is read when the
    // process is new and then again every few scans only (spread over the processes, so no scan
    // reads them all): a process that runs another script under the same program is seen within
    // those few scans, and so is a Wine loader read before it rewrote its command line.
    Launched &launched = m_launched[pid];
    if (launched.image != m_image || (m_scan + unsigned(pid)) % kRereadScans == 0) {
        launched.image = m_image;
        launched.paths.clear();
        if (ProcessList::commandLine(pid, &m_arguments)) {
            if (kind != Interpreter::None) {
                const std::string script = scriptArgument(m_arguments, kind == Interpreter::Shell);
                if (!script.empty())
                    addWithTarget(resolveRelative(pid, script), &launched.paths);
            }
            const std::string program = wine ? windowsProgramArgument(m_arguments) : std::string();
            if (!program.empty()) {
                launched.paths.push_back(program); // a binding stored in the Windows form, as Wine names it
                const bool drive = program.size() > 3 && std::isalpha(static_cast<unsigned char>(program[0]))
                                   && program[1] == ':' && (program[2] == '\\' || program[2] == '/');
                addWithTarget(drive ? resolveWindowsPath(pid, program) : resolveRelative(pid, program), &launched.paths);
            }
        }
    }
    launched.seenAt = m_scan;
    for (const std::string &path : launched.paths)
        mark(path, seen);
}

void ProgramMatch::addWithTarget(const std::string &path, std::vector<std::string> *paths)
{
    if (path.empty())
        return;
    paths->push_back(path);
    const std::string target = resolved(path);
    if (!target.empty() && target != path)
        paths->push_back(target);
}

void ProgramMatch::mark(const std::string &path, QMap<QString, bool> *seen) const
{
    const auto found = m_wanted.equal_range(path);
    for (auto it = found.first; it != found.second; ++it)
        (*seen)[it->second] = true;
}

std::string ProgramMatch::resolveRelative(int pid, const std::string &path) const
{
    if (path.front() == '/')
        return path;
    // Taken from the process's folder now: a process that has changed folder since it started
    // is not found this way.
    const std::string folder = ProcessList::workingFolder(pid);
    return folder.empty() ? std::string() : folder + '/' + path;
}

// "C:\Games\x.exe" → the file behind the drive in the process's Wine prefix: WINEPREFIX, or
// ~/.wine of the process's own home; dosdevices/c: there leads to the drive's folder.
std::string ProgramMatch::resolveWindowsPath(int pid, const std::string &path) const
{
    std::string prefix;
    if (!ProcessList::environmentValue(pid, "WINEPREFIX", &prefix) || prefix.empty() || prefix.front() != '/') {
        if (!ProcessList::environmentValue(pid, "HOME", &prefix) || prefix.empty() || prefix.front() != '/')
            return {};
        prefix += "/.wine";
    }
    std::string unixPath = prefix + "/dosdevices/" + char(std::tolower(static_cast<unsigned char>(path[0]))) + ':';
    for (size_t i = 2; i < path.size(); ++i)
        unixPath += path[i] == '\\' ? '/' : path[i];
    return resolved(unixPath);
}

std::string ProgramMatch::scriptArgument(const std::vector<std::string> &arguments, bool shell)
{
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--")
            return i + 1 < arguments.size() ? arguments[i + 1] : std::string();
        if (argument == "-" || argument.empty())
            return {}; // the script comes from the input
        if (argument.front() != '-' && argument.front() != '+')
            return argument;
        if (shell ? argument[1] != '-' && argument.find('c') != std::string::npos
                  : oneOf(argument, kInlineOptions, sizeof kInlineOptions / sizeof *kInlineOptions))
            return {};
        if (shell ? oneOf(argument, kShellValueOptions, sizeof kShellValueOptions / sizeof *kShellValueOptions)
                  : oneOf(argument, kValueOptions, sizeof kValueOptions / sizeof *kValueOptions))
            ++i;
    }
    return {};
}

std::string ProgramMatch::windowsProgramArgument(const std::vector<std::string> &arguments)
{
    for (const std::string &argument : arguments)
        if (endsWithExe(argument))
            return argument;
    return {};
}

#include "tools/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "codec/core/alloc.h"

#ifndef ZR_TOOLS_VERSION
#define ZR_TOOLS_VERSION "unknown"
#endif

const char kExitStatusHelp[] =
    "Exit status: 0 success, 1 bad input or a failure reading or writing,\n"
    "2 bad options or arguments.\n";

void printVersion(const char* tool)
{
    std::printf("%s (ZR tools) %s\n", tool, ZR_TOOLS_VERSION);
}

bool ArgCursor::next()
{
    if (++index_ >= argc_)
        return false;
    std::string arg = argv_[index_];
    inlineValue_ = false;
    option_ = !onlyPositional_ && arg.size() > 1 && arg[0] == '-';
    if (option_ && arg == "--") {
        onlyPositional_ = true;
        return next();
    }
    name_ = arg;
    size_t equals = arg.find('=');
    if (option_ && arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        name_ = arg.substr(0, equals);
        value_ = arg.substr(equals + 1);
        inlineValue_ = true;
    }
    return true;
}

bool ArgCursor::nextOption(std::vector<std::string>* positional)
{
    while (next()) {
        if (option_)
            return true;
        positional->push_back(name_);
    }
    return false;
}

bool ArgCursor::is(const char* a, const char* b) const
{
    return option_ && (name_ == a || (b && name_ == b));
}

bool ArgCursor::value(std::string* out)
{
    if (inlineValue_) {
        *out = value_;
        inlineValue_ = false;
        return true;
    }
    if (index_ + 1 >= argc_)
        return false;
    *out = argv_[++index_];
    return true;
}

bool answerHelpOrVersion(const ArgCursor& arg, const char* tool, const char* usage)
{
    if (arg.is("--help", "-h")) {
        std::fputs(usage, stdout);
        std::fputs(kExitStatusHelp, stdout);
        return true;
    }
    if (arg.is("--version")) {
        printVersion(tool);
        return true;
    }
    return false;
}

int collectPositional(int argc, char** argv, const char* usage, const Messages& m, std::vector<std::string>* files)
{
    ArgCursor arg(argc, argv);
    while (arg.nextOption(files)) {
        if (answerHelpOrVersion(arg, m.tool, usage))
            return -1;
        return m.usage("unknown option " + arg.name());
    }
    return 0;
}

bool parseWhole(const std::string& text, int64_t low, int64_t high, int64_t* value)
{
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != 0 || v < low || v > high)
        return false;
    *value = v;
    return true;
}

bool parseDecimal(const std::string& text, double low, double high, double* value)
{
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || !(v >= low && v <= high))
        return false;
    *value = v;
    return true;
}

int Messages::usage(const std::string& message) const
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool, message.c_str(), tool);
    return kExitUsage;
}

int Messages::fail(const std::string& message) const
{
    std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
    return kExitFailure;
}

void Messages::warn(const std::string& message) const
{
    if (verbosity > 0)
        std::fprintf(stderr, "%s: warning: %s\n", tool, message.c_str());
}

void Messages::note(const std::string& message) const
{
    if (verbosity > 0)
        std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
}

void Messages::detail(const std::string& message) const
{
    if (verbosity > 1)
        std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
}

ProgressLine::ProgressLine(bool enabled) : active_(enabled && isatty(STDERR_FILENO)) {}

void ProgressLine::show(const std::string& text)
{
    if (!active_)
        return;
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::clear()
{
    if (active_ && shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
}

std::string systemError()
{
    return std::strerror(errno);
}

std::string inputProblem(const std::string& path)
{
    if (path == "-")
        return "";
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return systemError();
    if (S_ISDIR(st.st_mode))
        return std::strerror(EISDIR);
    // Pipes read like standard input; devices and sockets are no files.
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
        return "not a regular file";
    return "";
}

void* allocateInput(size_t bytes)
{
    void* block = bytes >= kInputHugeBytes ? allocInHugePages(bytes) : std::malloc(bytes);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void releaseInput(void* block, size_t)
{
    freeChecked(block);
}

bool readInput(const std::string& path, InputBytes* bytes, std::string* error)
{
    std::string problem = inputProblem(path);
    if (!problem.empty()) {
        *error = path + ": " + problem;
        return false;
    }
#ifdef _WIN32
    if (path == "-")
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = path + ": " + systemError();
        return false;
    }
    // A file's bytes go into one block of its size, read there directly:
    // growing by doubling would leave the smaller blocks resident for the
    // whole decode. What a file has beyond its size then, and standard input,
    // come in chunks.
    struct stat info;
    if (file != stdin && fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        const size_t start = bytes->size();
        bytes->resize(start + static_cast<size_t>(info.st_size));
        bytes->resize(start + std::fread(bytes->data() + start, 1, static_cast<size_t>(info.st_size), file));
    }
    uint8_t chunk[65536];
    size_t n;
    while (!std::ferror(file) && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    // The block's last huge page is resident whole since the read; the part
    // past the bytes goes back before the decode, which holds the block.
    static_assert(kInputTrimBytes >= kInputHugeBytes, "trimmed inputs are in huge pages");
    if (bytes->size() >= kInputTrimBytes)
        trimHugePages(bytes->data(), bytes->capacity(), bytes->size());
    bool failed = std::ferror(file) != 0;
    std::string reason = failed ? systemError() : "";
    if (file != stdin)
        std::fclose(file);
    if (failed)
        *error = (path == "-" ? std::string("standard input") : path) + ": " + reason;
    return !failed;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return a != "-" && b != "-" && stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev
        && sa.st_ino == sb.st_ino;
}

namespace {

// The temporary file being written, removed if a signal ends the run.
char pendingName[4096];

void removePending(int signal)
{
    if (pendingName[0])
        unlink(pendingName);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void setPending(const std::string& name)
{
    static bool handlersSet = false;
    if (!handlersSet) {
#ifdef _WIN32
        for (int s : {SIGINT, SIGTERM})
#else
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ})
#endif
            if (std::signal(s, removePending) == SIG_IGN)
                std::signal(s, SIG_IGN); // leave signals the caller ignores ignored
        handlersSet = true;
    }
    std::snprintf(pendingName, sizeof pendingName, "%s", name.size() < sizeof pendingName ? name.c_str() : "");
}

void replaceAll(std::string* text, const std::string& from, const std::string& to)
{
    for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
        text->replace(at, from.size(), to);
}

// Creates a new empty file named `prefix` and a unique ending, with the
// permissions of `like` (or the default ones).
bool createTemporary(const std::string& prefix, const struct stat* like, std::string* name)
{
#ifdef _WIN32
    (void)like;
    for (unsigned attempt = 0; attempt < 1000; attempt++) {
        *name = prefix + "." + std::to_string(_getpid()) + "-" + std::to_string(attempt);
        int fd = _open(name->c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            _close(fd);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
#else
    std::string pattern = prefix + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    int fd = mkstemp(buffer.data());
    if (fd < 0)
        return false;
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, like ? like->st_mode & 07777 : 0666 & ~mask);
    close(fd);
    *name = buffer.data();
    return true;
#endif
}

bool copyToStdout(const std::string& name, std::string* error)
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    FILE* in = std::fopen(name.c_str(), "rb");
    if (!in) {
        *error = "standard output: " + systemError();
        return false;
    }
    char chunk[65536];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
        ok = std::fwrite(chunk, 1, n, stdout) == n;
    ok = ok && !std::ferror(in) && std::fflush(stdout) == 0;
    if (!ok)
        *error = "standard output: " + systemError();
    std::fclose(in);
    return ok;
}

} // namespace

bool writeOutput(const std::string& path, const FileWriter& write, std::string* error)
{
    bool toStdout = path == "-";
    std::string folder, base;
    if (toStdout) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp && *tmp ? tmp : "/tmp";
        base = "zr-output";
    } else {
        size_t slash = path.rfind('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        base = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    struct stat existing;
    bool exists = !toStdout && stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        *error = path + ": " + std::strerror(EISDIR);
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // Devices and pipes cannot be replaced; write into them directly.
        return write(path, error);
    }
    std::string temporary;
    if (!createTemporary(folder + "/." + base, exists ? &existing : nullptr, &temporary)) {
        *error = (toStdout ? std::string("standard output") : path) + ": cannot create a file in " + folder + ": "
               + systemError();
        return false;
    }
    setPending(temporary);
    bool ok = write(temporary, error);
    if (!ok)
        replaceAll(error, temporary, path);
    if (ok && toStdout)
        ok = copyToStdout(temporary, error);
    else if (ok) {
        std::error_code renamed; // replaces an existing file, also on Windows
        std::filesystem::rename(temporary, path, renamed);
        if (renamed) {
            *error = path + ": " + renamed.message();
            ok = false;
        }
    }
    if (!ok || toStdout)
        unlink(temporary.c_str());
    pendingName[0] = 0;
    return ok;
}

bool writeFileBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error,
                    const std::string& header)
{
    FILE* file = std::fopen(path.c_str(), "wb");
#ifdef __linux__
    // Blocks reserved up front are not allocated lazily, so replacing an
    // existing file by renaming does not have to write this one out first.
    if (file)
        (void)fallocate(fileno(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(header.size() + size));
#endif
    bool ok = file && std::fwrite(header.data(), 1, header.size(), file) == header.size()
           && (size == 0 || std::fwrite(data, 1, size, file) == size);
    std::string reason = ok ? "" : systemError();
    if (file && std::fclose(file) != 0 && ok) {
        ok = false;
        reason = systemError();
    }
    if (!ok && error)
        *error = path + ": " + reason;
    return ok;
}

bool writeOutputBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    return writeOutput(
        path, [&](const std::string& name, std::string* reason) { return writeFileBytes(name, data, size, reason); },
        error);
}

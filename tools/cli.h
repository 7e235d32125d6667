// Command-line conventions shared by the tools: exit codes, argument
// scanning, messages by verbosity, a progress line on terminals, input from
// files or standard input, and output written through a temporary file.
#pragma once
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // bad input, or reading or writing failed
constexpr int kExitUsage = 2;   // bad options or arguments

// The closing lines of every tool's --help.
extern const char kExitStatusHelp[];

// "<tool> (ZR tools) <version>" on standard output.
void printVersion(const char* tool);

// Walks the arguments: options ("--name", "--name=value", "-x") until "--",
// positional arguments ("-" included) anywhere.
class ArgCursor {
public:
    ArgCursor(int argc, char** argv) : argc_(argc), argv_(argv) {}
    // Moves to the next argument; false after the last.
    bool next();
    // Moves to the next option, adding the positional arguments on the way
    // to *positional; false after the last argument.
    bool nextOption(std::vector<std::string>* positional);
    bool isOption() const { return option_; }
    // The option's name (without "=value"), or the positional argument.
    const std::string& name() const { return name_; }
    bool is(const char* a, const char* b = nullptr) const;
    // The option's value ("=value" or the next argument); false when missing.
    bool value(std::string* out);
    // An option given "=value" that takes none.
    bool hasInlineValue() const { return inlineValue_; }

private:
    int argc_;
    char** argv_;
    int index_ = 0;
    bool onlyPositional_ = false;
    bool option_ = false;
    bool inlineValue_ = false;
    std::string name_;
    std::string value_;
};

// Whole numbers in [low, high]; decimal numbers in [low, high].
bool parseWhole(const std::string& text, int64_t low, int64_t high, int64_t* value);
bool parseDecimal(const std::string& text, double low, double high, double* value);

// Messages on standard error, prefixed with the tool's name.
struct Messages {
    const char* tool = "";
    int verbosity = 1; // 0 quiet, 1 normal, 2 verbose

    // A usage error: the message and a pointer to --help. Returns kExitUsage.
    int usage(const std::string& message) const;
    // A failure. Returns kExitFailure.
    int fail(const std::string& message) const;
    // Shown unless quiet.
    void warn(const std::string& message) const;
    void note(const std::string& message) const;
    // Shown when verbose.
    void detail(const std::string& message) const;
};

// For --help/-h (the usage and the exit-status lines) and --version: prints
// the answer and returns true; the caller then exits with kExitOk.
bool answerHelpOrVersion(const ArgCursor& arg, const char* tool, const char* usage);

// Arguments of a tool with no options of its own: collects the positional
// ones. 0 to go on, -1 after --help or --version, else kExitUsage.
int collectPositional(int argc, char** argv, const char* usage, const Messages& m, std::vector<std::string>* files);

// One line on a terminal's standard error, rewritten in place; silent when
// standard error is not a terminal or `enabled` is false.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled);
    ~ProgressLine() { clear(); }
    void show(const std::string& text);
    void clear();

private:
    bool active_;
    bool shown_ = false;
};

// The allocator of input read whole: blocks of kInputHugeBytes and more take
// whole huge pages (allocInHugePages), so that reading a stream of a few
// hundred KiB does not cost a page fault per 4 KiB.
constexpr size_t kInputHugeBytes = size_t(256) << 10;
// Inputs of at least this many bytes give back the unused end of their last
// huge page after the read (trimHugePages). That costs a few tenths of a
// millisecond (the page is split), about 1% of the decode of a smaller
// stream; larger streams decode for long enough, and their pictures are the
// ones whose peak memory counts.
constexpr size_t kInputTrimBytes = size_t(512) << 10;
void* allocateInput(size_t bytes);
void releaseInput(void* block, size_t bytes);
template <class T>
struct InputAllocator {
    using value_type = T;
    InputAllocator() = default;
    template <class U>
    InputAllocator(const InputAllocator<U>&) noexcept
    {
    }
    T* allocate(size_t n)
    {
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(allocateInput(n * sizeof(T)));
    }
    void deallocate(T* block, size_t n) noexcept { releaseInput(block, n * sizeof(T)); }
    // Room made by resize() is read into at once: it is left as it is
    // rather than zeroed first.
    template <class U>
    void construct(U* at) noexcept
    {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const InputAllocator<U>&) const noexcept
    {
        return true;
    }
};
using InputBytes = std::vector<uint8_t, InputAllocator<uint8_t>>;

// Reads a whole input file, or standard input for "-". Refuses directories
// and devices with the reason in *error.
bool readInput(const std::string& path, InputBytes* bytes, std::string* error);
// Empty when `path` can be read as an input file ("-" always can), else why not.
std::string inputProblem(const std::string& path);

// True when both name the same existing file.
bool sameFile(const std::string& a, const std::string& b);

// Writes `path` by calling write(temporaryName) and renaming the finished
// file over `path`, so that a failed or interrupted run leaves any earlier
// file untouched. "-" goes to standard output. False with the reason.
using FileWriter = std::function<bool(const std::string& temporaryName, std::string* error)>;
bool writeOutput(const std::string& path, const FileWriter& write, std::string* error);
bool writeOutputBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error);

// Writes `header` and then the bytes to `path` directly.
bool writeFileBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error,
                    const std::string& header = std::string());

// The reason of the last failed system call ("No such file or directory").
std::string systemError();

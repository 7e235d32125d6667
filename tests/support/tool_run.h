// Runs a built program as its own process, without a shell: the arguments
// reach it exactly as given. Standard input comes from a file (or /dev/null);
// standard output and error are captured.
#pragma once
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string slurpFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The scratch folders this process made, removed when it ends (a forked
// child leaves through _exit and removes nothing).
struct ScratchFolders {
    std::vector<std::filesystem::path> made;
    ~ScratchFolders()
    {
        for (const std::filesystem::path& dir : made) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
};

// A fresh per-process scratch folder for one test group.
inline std::filesystem::path toolScratch(const std::string& group)
{
    static ScratchFolders folders;
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zr-" + group + "-" + std::to_string(getpid()));
    if (std::filesystem::create_directories(dir))
        folders.made.push_back(dir);
    return dir;
}

struct ToolCall {
    std::string program;
    std::vector<std::string> args;
    std::string stdinPath = "/dev/null";
    std::string workDir; // empty: the current one
    long fileSizeLimit = -1;      // bytes any file may grow to; -1: no limit
    bool ignoreFileSizeSignal = false; // writes beyond the limit fail instead of killing
    std::vector<std::pair<std::string, std::string>> environment; // variables set for the program
    unsigned timeoutSeconds = 120; // a program that hangs is ended instead of blocking the test
};

inline ToolRun runTool(const ToolCall& call)
{
    std::filesystem::path dir = toolScratch("run");
    std::string outPath = (dir / "stdout").string(), errPath = (dir / "stderr").string();
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        int in = open(call.stdinPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        if (!call.workDir.empty() && chdir(call.workDir.c_str()) != 0)
            _exit(127);
        if (call.fileSizeLimit >= 0) {
            rlimit limit{rlim_t(call.fileSizeLimit), rlim_t(call.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, call.ignoreFileSizeSignal ? SIG_IGN : SIG_DFL);
        }
        for (const auto& [name, value] : call.environment)
            setenv(name.c_str(), value.c_str(), 1);
        alarm(call.timeoutSeconds);
        std::vector<char*> argv{const_cast<char*>(call.program.c_str())};
        for (const std::string& arg : call.args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(call.program.c_str(), argv.data());
        _exit(127);
    }
    ToolRun run;
    int status = 0;
    if (child < 0)
        return run;
    if (child > 0 && waitpid(child, &status, 0) == child)
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = slurpFile(outPath);
    run.err = slurpFile(errPath);
    return run;
}

inline ToolRun runTool(const std::string& program, const std::vector<std::string>& args,
                       const std::string& stdinPath = "/dev/null")
{
    ToolCall call;
    call.program = program;
    call.args = args;
    call.stdinPath = stdinPath;
    return runTool(call);
}

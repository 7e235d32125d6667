// zrinfo: prints the header of ZR streams without decoding the pictures.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli.h"
#include "tools/stream_info.h"

namespace {

const char usage[] =
    "usage: zrinfo [options] FILE...\n"
    "Prints each ZR stream's header fields by name and the derived number of\n"
    "levels, or why a decoder would refuse the stream; a stream whose data ends\n"
    "inside the header says so first. Reads only the header. FILE may be - for\n"
    "standard input.\n"
    "\n"
    "options:\n"
    "  -h, --help  show this text\n"
    "  --version   show the version\n"
    "Exits with 1 when any file is refused or cannot be read.\n";

} // namespace

int main(int argc, char** argv)
{
    Messages m;
    m.tool = "zrinfo";
    std::vector<std::string> files;
    int parsed = collectPositional(argc, argv, usage, m, &files);
    if (parsed != 0)
        return parsed < 0 ? kExitOk : parsed;
    if (files.empty())
        return m.usage("needs at least one file");

    int failures = 0;
    for (const std::string& file : files) {
        std::string problem = inputProblem(file);
        StreamInfo info;
        std::string error;
        bool read = false;
        if (file == "-") {
            InputBytes bytes;
            read = readInput(file, &bytes, &error);
            info = inspectBytes(bytes.data(), bytes.size());
        } else if (problem.empty()) {
            read = inspectFile(file.c_str(), &info, &error);
            error = file + ": " + error;
        } else {
            error = file + ": " + problem;
        }
        if (!read) {
            std::fflush(stdout);
            m.fail(error);
            failures++;
            continue;
        }
        printStreamInfo(stdout, file == "-" ? "standard input" : file.c_str(), info);
        if (info.status != 0)
            failures++;
    }
    std::fflush(stdout);
    return failures ? kExitFailure : kExitOk;
}

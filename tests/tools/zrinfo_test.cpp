// Runs the zrinfo program: truncated headers, standard input, refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/stream_header.h"
#include "tests/support/tool_run.h"

#ifdef ZRINFO_PATH

namespace {

namespace fs = std::filesystem;

TEST(Zrinfo, TruncatedHeaderIsNamedFirst)
{
    fs::path dir = toolScratch("zrinfo");
    HeaderFields h;
    h.height = 256; // the fifth byte is 0: the fields after it read as 0
    std::vector<uint8_t> header = makeHeader(h);
    writeFile(dir / "five.zr", std::string(header.begin(), header.begin() + 5));
    ToolRun run = runTool(ZRINFO_PATH, {(dir / "five.zr").string()});
    EXPECT_EQ(run.exitCode, 1);
    std::string first = run.out.substr(0, run.out.find('\n'));
    EXPECT_EQ(first.find(": refused, status 16: the data ends inside the header"), (dir / "five.zr").string().size())
        << run.out;
}

TEST(Zrinfo, ReadsStandardInputAndRefusesFolders)
{
    fs::path dir = toolScratch("zrinfo");
    std::vector<uint8_t> header = makeHeader(HeaderFields{});
    writeFile(dir / "header.zr", std::string(header.begin(), header.end()));
    ToolRun piped = runTool(ZRINFO_PATH, {"-"}, (dir / "header.zr").string());
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out.rfind("standard input: accepted\n", 0), 0u) << piped.out;
    EXPECT_EQ(piped.out, runTool(ZRINFO_PATH, {(dir / "header.zr").string()}).out.replace(
                             0, (dir / "header.zr").string().size(), "standard input"));

    ToolRun folder = runTool(ZRINFO_PATH, {dir.string(), (dir / "header.zr").string()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.err.find("Is a directory"), std::string::npos) << folder.err;
    EXPECT_NE(folder.out.find("accepted"), std::string::npos); // the other file is still shown
    EXPECT_EQ(runTool(ZRINFO_PATH, {}).exitCode, 2);
}

} // namespace

#endif

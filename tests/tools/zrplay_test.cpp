// Runs the zrplay program: output folders with hostile names, refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/support/stream_header.h"
#include "tests/support/tool_run.h"
#include "tests/support/tool_streams.h"

#ifdef ZRPLAY_PATH

namespace {

namespace fs = std::filesystem;

std::set<std::string> listing(const fs::path& dir)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(entry.path(), dir).string());
    return names;
}

TEST(Zrplay, MakesExactlyTheNamedFolders)
{
    fs::path scratch = toolScratch("zrplay");
    fs::path stream = scratch / "in.zr";
    std::vector<uint8_t> bytes = makeToolStream(ToolStream{});
    writeFile(stream, std::string(bytes.begin(), bytes.end()));

    const std::string names[] = {
        "x'; touch INJECTED; echo '", "with space", "semi;colon", "$(touch INJECTED)", "`touch INJECTED`",
        "dq\"; touch INJECTED; \"", "it's", "-dash",
    };
    for (const std::string& name : names) {
        fs::path work = scratch / "work";
        fs::remove_all(work);
        fs::create_directories(work);
        ToolCall call;
        call.program = ZRPLAY_PATH;
        call.args = {stream.string(), "./" + name, "--dump", "./" + name + "/dump $(id)"};
        call.workDir = work.string();
        ToolRun run = runTool(call);
        EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
        std::set<std::string> made = listing(work);
        EXPECT_EQ(made.count(name), 1u) << name;
        EXPECT_TRUE(fs::exists(work / name / "final.png")) << name;
        EXPECT_TRUE(fs::exists(work / name / "dump $(id)" / "index.txt")) << name;
        for (const std::string& entry : made)
            EXPECT_EQ(entry.rfind(name, 0), 0u) << name << " also made " << entry;
    }
}

TEST(Zrplay, NamesTheReasonWhenTheFolderCannotBeMade)
{
    fs::path scratch = toolScratch("zrplay");
    fs::path stream = scratch / "in.zr";
    std::vector<uint8_t> bytes = makeToolStream(ToolStream{});
    writeFile(stream, std::string(bytes.begin(), bytes.end()));
    ToolRun run = runTool(ZRPLAY_PATH, {stream.string(), (stream / "sub").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot create"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Not a directory"), std::string::npos) << run.err;
}

TEST(Zrplay, GivesTheReasonForARefusal)
{
    fs::path scratch = toolScratch("zrplay");
    HeaderFields h;
    h.colour = true;
    h.bitsPerSample = 10;
    std::vector<uint8_t> bytes = makeHeader(h);
    writeFile(scratch / "deep.zr", std::string(bytes.begin(), bytes.end()));
    ToolRun run = runTool(ZRPLAY_PATH, {(scratch / "deep.zr").string(), (scratch / "refused").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("deep.zr: refused: unsupported sample depth 10 for colour"), std::string::npos) << run.err;
    EXPECT_EQ(runTool(ZRPLAY_PATH, {"--chunk", "0", "a", "b"}).exitCode, 2);
}

} // namespace

#endif

// What every tool does alike: --help, --version, usage errors, and the
// README's tool section showing each tool's --help as it prints it.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>

#include "tests/support/tool_run.h"

namespace {

std::map<std::string, std::string> builtTools()
{
    std::map<std::string, std::string> tools;
#ifdef ZRENC_PATH
    tools["zrenc"] = ZRENC_PATH;
#endif
#ifdef ZRDEC_PATH
    tools["zrdec"] = ZRDEC_PATH;
#endif
#ifdef ZRINFO_PATH
    tools["zrinfo"] = ZRINFO_PATH;
#endif
#ifdef ZRPLAY_PATH
    tools["zrplay"] = ZRPLAY_PATH;
#endif
#ifdef ZRSAMPLE_PATH
    tools["zrsample"] = ZRSAMPLE_PATH;
#endif
#ifdef ZR32SERV_PATH
    tools["zr32serv"] = ZR32SERV_PATH;
#endif
    return tools;
}

TEST(ToolConventions, HelpVersionAndUsageErrors)
{
    for (const auto& [name, path] : builtTools()) {
        for (const char* help : {"--help", "-h"}) {
            ToolRun run = runTool(path, {help});
            EXPECT_EQ(run.exitCode, 0) << name;
            EXPECT_EQ(run.out.rfind("usage: " + name, 0), 0u) << name;
            EXPECT_NE(run.out.find("Exit status: 0"), std::string::npos) << name;
            EXPECT_EQ(run.err, "") << name;
        }
        ToolRun version = runTool(path, {"--version"});
        EXPECT_EQ(version.exitCode, 0) << name;
        EXPECT_TRUE(std::regex_match(version.out, std::regex(name + " \\(ZR tools\\) [0-9]+\\.[0-9]+\\.[0-9]+\n")))
            << version.out;
        if (name == "zr32serv")
            continue; // other arguments are ignored: the plug-in starts it
        ToolRun unknown = runTool(path, {"--no-such-option", "a", "b"});
        EXPECT_EQ(unknown.exitCode, 2) << name;
        EXPECT_NE(unknown.err.find(name + ": unknown option --no-such-option\nTry '" + name + " --help'."),
                  std::string::npos)
            << unknown.err;
        EXPECT_EQ(runTool(path, {}).exitCode, 2) << name;
    }
}

// The README's tool section: every "$ TOOL --help" block is that tool's
// --help, and every option named in the prose before it is one the tool has.
TEST(ToolConventions, ReadmeShowsEachToolsHelp)
{
    std::string readme = slurpFile(std::string(ZR_SOURCE_DIR) + "/README.md");
    size_t start = readme.find("\n## Tools\n");
    ASSERT_NE(start, std::string::npos);
    size_t end = readme.find("\n## ", start + 1);
    std::string section = readme.substr(start, end - start);
    std::map<std::string, std::string> tools = builtTools();
    std::set<std::string> shown;
    std::regex block("\n### (\\w+)\n([^`]*(?:`[^`]*`[^`]*)*?)```\n\\$ (\\w+) --help\n([^`]*)```\n");
    for (auto it = std::sregex_iterator(section.begin(), section.end(), block); it != std::sregex_iterator(); ++it) {
        std::string name = (*it)[1], prose = (*it)[2], command = (*it)[3], text = (*it)[4];
        EXPECT_EQ(command, name);
        shown.insert(name);
        if (!tools.count(name))
            continue;
        ToolRun help = runTool(tools[name], {"--help"});
        EXPECT_EQ(text, help.out) << name << ": the README's --help differs from the tool's";
        std::regex option("(^|[ `(])(--?[a-z][a-z0-9-]*)");
        for (auto o = std::sregex_iterator(prose.begin(), prose.end(), option); o != std::sregex_iterator(); ++o)
            EXPECT_NE(help.out.find((*o)[2].str()), std::string::npos)
                << name << ": the README names " << (*o)[2] << ", which --help does not list";
    }
    for (const auto& [name, path] : tools)
        EXPECT_TRUE(shown.count(name)) << name << " has no --help block in the README";
}

} // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "bridge/zr32ut.h"
#include "platform/layer_hooks.h"

namespace {

// The 16-bit plug-in double.
struct Plugin {
    UT16CBPROC callback = nullptr;
    int calls = 0;
    DWORD code = 0;
    DecodeOptions* options = nullptr; // field 1, converted back to flat
    bool optionsWasSegmented = false;
    DWORD notice = 0;
};
Plugin plugin;

DWORD WINAPI ut16Init(UT16CBPROC callback, LPVOID)
{
    plugin.callback = callback;
    return 1;
}

DWORD WINAPI ut16Proc(LPVOID buffer16, DWORD code)
{
    plugin.calls++;
    plugin.code = code;
    auto* block = static_cast<uint8_t*>(ut_ptr16to32(buffer16));
    if (!block)
        return 0;
    void* field1;
    std::memcpy(&field1, block, sizeof field1);
    std::memcpy(&plugin.notice, block + sizeof(void*), sizeof plugin.notice);
    plugin.options = static_cast<DecodeOptions*>(ut_ptr16to32(field1));
    plugin.optionsWasSegmented = field1 != plugin.options;
    return 1000 + plugin.notice;
}

const HWND serverWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4242));

class Bridge : public testing::Test {
protected:
    void SetUp() override
    {
        plugin = Plugin{};
        zrRegister16BitModule("NPZR16.DLL", "UT16Init", ut16Init, "UT16Proc", ut16Proc);
        entry = zrLibraryEntry("zr32ut.dll", &module);
        ASSERT_NE(entry, nullptr);
    }
    void TearDown() override
    {
        CloseThunk();
        zrUnregister16BitModule("NPZR16.DLL");
        zrSetVersionAnswer(ZR_VERSION_WIN32S);
        zrSetThunkServices(TRUE);
        zrSetProcessIdOverride(0);
    }
    // Ends the library's only attach and attaches again as a new process would.
    BOOL reattach()
    {
        entry(module, DLL_PROCESS_DETACH, nullptr);
        return entry(module, DLL_PROCESS_ATTACH, nullptr);
    }
    ZrLibraryEntry entry = nullptr;
    HMODULE module = nullptr;
};

TEST_F(Bridge, ProgressNoticesReachThePlugin)
{
    ASSERT_TRUE(InitThunk(serverWindow, "NPZR16.DLL", nullptr));
    ASSERT_NE(plugin.callback, nullptr);
    // The plug-in asks for the server window through the thunk.
    EXPECT_EQ(plugin.callback(nullptr, 104, nullptr), static_cast<DWORD>(reinterpret_cast<uintptr_t>(serverWindow)));

    DecodeOptions options{};
    EXPECT_EQ(dispImageProg(&options, 0), 1000u);
    EXPECT_EQ(plugin.code, static_cast<DWORD>(PROGRESS_NOTICE));
    EXPECT_EQ(plugin.options, &options);
    EXPECT_TRUE(plugin.optionsWasSegmented);
    EXPECT_EQ(plugin.notice, 0u);
    EXPECT_EQ(dispImageProg(&options, 1), 1001u);
    EXPECT_EQ(plugin.notice, 1u);
    EXPECT_EQ(plugin.calls, 2);

    // Registering again replaces the registration; closing ends the notices.
    EXPECT_TRUE(InitThunk(serverWindow, "NPZR16.DLL", nullptr));
    EXPECT_EQ(dispImageProg(&options, 0), 1000u);
    CloseThunk();
    EXPECT_EQ(dispImageProg(&options, 1), 0u);
    EXPECT_EQ(plugin.calls, 3);
    CloseThunk();
}

TEST_F(Bridge, CallbackCodes)
{
    InitThunk(serverWindow, "NPZR16.DLL", nullptr);
    EXPECT_EQ(UT32CBProc(nullptr, 104), static_cast<DWORD>(reinterpret_cast<uintptr_t>(serverWindow)));
    for (DWORD code : {0u, 1u, 2u, 3u, 4u, 110u, 111u})
        EXPECT_EQ(UT32CBProc(&plugin, code), 0u) << code;
    for (DWORD code : {5u, 103u, 105u, 112u, 0xFFFFFFFFu})
        EXPECT_EQ(static_cast<int32_t>(UT32CBProc(nullptr, code)), -1) << code;
}

void* seenContext;
uint32_t* seenSlot;
int32_t sourceResult;

int32_t recordingSource(void* context, uint32_t* slot)
{
    seenContext = context;
    seenSlot = slot;
    *slot = 0xAB;
    return sourceResult;
}

TEST_F(Bridge, ByteSourceIsForwardedUnchanged)
{
    // The window and source are kept even when no plug-in answers.
    EXPECT_FALSE(InitThunk(serverWindow, "NOSUCH16.DLL", recordingSource));
    EXPECT_EQ(UT32CBProc(nullptr, 104), static_cast<DWORD>(reinterpret_cast<uintptr_t>(serverWindow)));
    int context = 0;
    uint32_t slot = 0;
    for (int32_t result : {0, 1, 7}) {
        sourceResult = result;
        EXPECT_EQ(_ZrDecompressCBFunc(&context, &slot), result);
        EXPECT_EQ(seenContext, &context);
        EXPECT_EQ(seenSlot, &slot);
        EXPECT_EQ(slot, 0xABu);
    }
}

TEST_F(Bridge, SecondAttachOnlyCounts)
{
    long kernelUses = zrModuleUseCount("kernel32.dll");
    ASSERT_GE(kernelUses, 1);
    EXPECT_TRUE(entry(module, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(zrModuleUseCount("kernel32.dll"), kernelUses); // looked up once
    EXPECT_FALSE(entry(module, DLL_PROCESS_DETACH, nullptr)); // not the last
    ASSERT_TRUE(InitThunk(serverWindow, "NPZR16.DLL", nullptr));
    DecodeOptions options{};
    EXPECT_EQ(dispImageProg(&options, 0), 1000u);

    // The last detach unregisters and releases the kernel module.
    EXPECT_TRUE(entry(module, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(zrModuleUseCount("kernel32.dll"), kernelUses - 1);
    EXPECT_EQ(dispImageProg(&options, 0), 0u);
    EXPECT_EQ(ut_ptr16to32(nullptr), nullptr);
    EXPECT_TRUE(entry(module, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(zrModuleUseCount("kernel32.dll"), kernelUses);
}

TEST_F(Bridge, WindowsNtHasNoThunk)
{
    long kernelUses = zrModuleUseCount("kernel32.dll");
    zrSetVersionAnswer(ZR_VERSION_NT);
    ASSERT_TRUE(reattach());
    EXPECT_EQ(zrModuleUseCount("kernel32.dll"), kernelUses - 1); // not loaded on NT

    int context = 0;
    uint32_t slot = 0;
    sourceResult = 0;
    EXPECT_FALSE(InitThunk(serverWindow, "NPZR16.DLL", recordingSource));
    EXPECT_EQ(plugin.callback, nullptr);
    EXPECT_EQ(UT32CBProc(nullptr, 104), static_cast<DWORD>(reinterpret_cast<uintptr_t>(serverWindow)));
    EXPECT_EQ(_ZrDecompressCBFunc(&context, &slot), 0);
    EXPECT_EQ(seenContext, &context);
    DecodeOptions options{};
    EXPECT_EQ(dispImageProg(&options, 1), 0u);
    EXPECT_EQ(plugin.calls, 0);
    EXPECT_EQ(ut_ptr16to32(reinterpret_cast<LPVOID>(static_cast<uintptr_t>(0x000F0000))), nullptr);
    CloseThunk();

    // The NT library's last detach reports failure; the thunk system's attach
    // looks the services up again.
    EXPECT_FALSE(entry(module, DLL_PROCESS_DETACH, nullptr));
    zrSetVersionAnswer(ZR_VERSION_WIN32S);
    EXPECT_TRUE(entry(module, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(zrModuleUseCount("kernel32.dll"), kernelUses);
    EXPECT_TRUE(InitThunk(serverWindow, "NPZR16.DLL", nullptr));
}

TEST_F(Bridge, MissingThunkServicesRefuseTheAttach)
{
    zrSetThunkServices(FALSE);
    EXPECT_FALSE(reattach());
    entry(module, DLL_PROCESS_DETACH, nullptr);
    zrSetThunkServices(TRUE);
    EXPECT_TRUE(entry(module, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_TRUE(InitThunk(serverWindow, "NPZR16.DLL", nullptr));
}

TEST_F(Bridge, SecondProcessIsRefused)
{
    long kernelUses = zrModuleUseCount("kernel32.dll");
    zrSetProcessIdOverride(GetCurrentProcessId() + 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(entry(module, DLL_PROCESS_ATTACH, nullptr));
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(zrLastMessageBoxText(), "Cannot run multiple instances of a DLL under WIN32s");

    zrSetVersionAnswer(ZR_VERSION_NT);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(entry(module, DLL_PROCESS_ATTACH, nullptr));
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(zrLastMessageBoxText(), "Nonshared DATA segment required");
    zrSetVersionAnswer(ZR_VERSION_WIN32S);
    zrSetProcessIdOverride(0);

    // The refused attaches left the count alone: one detach is the last.
    EXPECT_EQ(zrModuleUseCount("kernel32.dll"), kernelUses);
    EXPECT_TRUE(reattach());
    EXPECT_EQ(zrModuleUseCount("kernel32.dll"), kernelUses);
}

// The library's dynamic symbol table holds the six exports and nothing else.
TEST(BridgeLibrary, ExportsExactlySix)
{
    Dl_info info{};
    ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&InitThunk), &info));
    std::ifstream in(info.dli_fname, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(image.size(), sizeof(Elf64_Ehdr));
    const char* base = image.data();
    auto* header = reinterpret_cast<const Elf64_Ehdr*>(base);
    ASSERT_EQ(header->e_ident[EI_CLASS], ELFCLASS64);
    auto* sections = reinterpret_cast<const Elf64_Shdr*>(base + header->e_shoff);
    std::set<std::string> exported;
    for (int i = 0; i < header->e_shnum; i++) {
        if (sections[i].sh_type != SHT_DYNSYM)
            continue;
        const char* names = base + sections[sections[i].sh_link].sh_offset;
        auto* symbols = reinterpret_cast<const Elf64_Sym*>(base + sections[i].sh_offset);
        size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (size_t k = 0; k < count; k++) {
            int bind = ELF64_ST_BIND(symbols[k].st_info);
            if (symbols[k].st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK))
                exported.insert(names + symbols[k].st_name);
        }
    }
    EXPECT_EQ(exported, (std::set<std::string>{"InitThunk", "CloseThunk", "dispImageProg", "_ZrDecompressCBFunc",
                                               "UT32CBProc", "ut_ptr16to32"}));
}

} // namespace

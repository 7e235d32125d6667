#include <gtest/gtest.h>

#include <string>

#include "platform/layer_hooks.h"

namespace {

TEST(System, VersionAnswersWin32sUnlessToldOtherwise)
{
    EXPECT_NE(GetVersion() & 0x80000000u, 0u);
    zrSetVersionAnswer(ZR_VERSION_NT);
    EXPECT_EQ(GetVersion() & 0x80000000u, 0u);
    zrSetVersionAnswer(ZR_VERSION_WIN32S);
    EXPECT_NE(GetVersion() & 0x80000000u, 0u);
}

TEST(System, MessageBoxWritesToStandardError)
{
    long shown = zrMessageBoxCount();
    testing::internal::CaptureStderr();
    int answer = MessageBoxA(nullptr, "HaHa", nullptr, MB_OK);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, IDOK);
    EXPECT_NE(err.find("HaHa"), std::string::npos);
    EXPECT_NE(err.find("Error"), std::string::npos); // the default caption
    EXPECT_STREQ(zrLastMessageBoxText(), "HaHa");
    EXPECT_EQ(zrMessageBoxCount(), shown + 1);

    testing::internal::CaptureStderr();
    MessageBoxA(nullptr, "Can't send WM_COPYDATA", "test", MB_OK);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("test"), std::string::npos);
    EXPECT_STREQ(zrLastMessageBoxCaption(), "test");
}

TEST(System, KernelExportsThunkServicesByName)
{
    HMODULE kernel = LoadLibraryA("Kernel32.Dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(LoadLibraryA("KERNEL32"), kernel);
    EXPECT_EQ(zrModuleUseCount("kernel32.dll"), 2);
    EXPECT_NE(GetProcAddress(kernel, "UTRegister"), nullptr);
    EXPECT_NE(GetProcAddress(kernel, "UTUnRegister"), nullptr);
    EXPECT_NE(GetProcAddress(kernel, "UTSelectorOffsetToLinear"), nullptr);
    EXPECT_EQ(GetProcAddress(kernel, "NoSuchEntry"), nullptr);

    zrSetThunkServices(FALSE);
    EXPECT_EQ(GetProcAddress(kernel, "UTRegister"), nullptr);
    zrSetThunkServices(TRUE);

    EXPECT_TRUE(FreeLibrary(kernel));
    EXPECT_TRUE(FreeLibrary(kernel));
    EXPECT_FALSE(FreeLibrary(kernel));
    EXPECT_EQ(LoadLibraryA("npzr16.dll"), nullptr);
}

// A 16-bit plug-in double.
struct PluginRecord {
    UT16CBPROC callback = nullptr;
    LPVOID initBuffer = nullptr;
    LPVOID buffer16 = nullptr;
    DWORD code = 0;
    void* field = nullptr; // first field of the buffer, as the plug-in saw it
    void* fieldFlat = nullptr; // and converted back during the call
    DWORD initResult = 1;
};
PluginRecord plugin;

DWORD WINAPI pluginInit(UT16CBPROC callback, LPVOID buffer)
{
    plugin.callback = callback;
    plugin.initBuffer = buffer;
    return plugin.initResult;
}

DWORD WINAPI pluginProc(LPVOID buffer16, DWORD code)
{
    plugin.buffer16 = buffer16;
    plugin.code = code;
    void** block = static_cast<void**>(UTSelectorOffsetToLinear(buffer16));
    plugin.field = block ? block[0] : nullptr;
    plugin.fieldFlat = UTSelectorOffsetToLinear(plugin.field);
    return 55;
}

DWORD WINAPI callback32(LPVOID buffer, DWORD code)
{
    return code == 9 && buffer == &plugin ? 99 : 1;
}

HANDLE const ownModule = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7000));

TEST(UniversalThunk, TranslatesPointersBothWays)
{
    zrRegister16BitModule("PLUG16.DLL", "Init16", pluginInit, "Proc16", pluginProc);
    UT32PROC thunk = nullptr;
    ASSERT_TRUE(UTRegister(ownModule, "plug16.dll", "Init16", "Proc16", &thunk,
                           reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&callback32)), nullptr));
    ASSERT_NE(thunk, nullptr);
    ASSERT_NE(plugin.callback, nullptr);

    int target = 3;
    struct {
        int* pointer;
        DWORD value;
    } block{&target, 1};
    LPVOID list[2] = {&block.pointer, nullptr};
    EXPECT_EQ(thunk(&block, 113, list), 55u);
    EXPECT_EQ(plugin.code, 113u);
    // The plug-in got 16:16 values that lead back to the flat addresses.
    EXPECT_NE(plugin.buffer16, static_cast<void*>(&block));
    EXPECT_NE(plugin.field, static_cast<void*>(&target));
    EXPECT_EQ(plugin.fieldFlat, static_cast<void*>(&target));
    // Selectors made for the call end with it.
    EXPECT_EQ(UTSelectorOffsetToLinear(plugin.field), nullptr);
    // The caller's block is as it was.
    EXPECT_EQ(block.pointer, &target);

    // Up from 16-bit code: the buffer arrives flat.
    LPVOID buffer16 = UTLinearToSelectorOffset(&plugin);
    EXPECT_EQ(plugin.callback(buffer16, 9, nullptr), 99u);

    UTUnRegister(ownModule);
    EXPECT_EQ(thunk(&block, 113, list), 0u);
    EXPECT_EQ(plugin.callback(buffer16, 9, nullptr), 0u);
    zrUnregister16BitModule("PLUG16.DLL");
}

TEST(UniversalThunk, RegistrationFailsWithoutModuleOrConsent)
{
    UT32PROC thunk = nullptr;
    EXPECT_FALSE(UTRegister(ownModule, "MISSING.DLL", "Init16", "Proc16", &thunk, nullptr, nullptr));
    zrRegister16BitModule("PLUG16.DLL", "Init16", pluginInit, "Proc16", pluginProc);
    EXPECT_FALSE(UTRegister(ownModule, "PLUG16.DLL", "Init16", "OtherProc", &thunk, nullptr, nullptr));
    plugin.initResult = 0;
    EXPECT_FALSE(UTRegister(ownModule, "PLUG16.DLL", "Init16", "Proc16", &thunk, nullptr, nullptr));
    plugin.initResult = 1;
    EXPECT_EQ(thunk, nullptr);
    zrUnregister16BitModule("PLUG16.DLL");
    EXPECT_EQ(UTSelectorOffsetToLinear(nullptr), nullptr);
}

} // namespace

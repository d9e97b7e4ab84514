// The stub carried as a resource: written out it is the very program the build
// made, and it runs.
#include "StubTestSupport.h"

#include "update/stub/StubRules.h"
#include "winutil/ResourceFile.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

namespace {

// The machine a program file is built for, from its PE header.
WORD MachineOf(const std::string& image)
{
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image.data() + dos->e_lfanew);
    return nt->FileHeader.Machine;
}

TEST(StubResource, WrittenOutItIsTheBuiltStubAndRuns)
{
    ScratchFolder scratch("kdstubres");
    // A file planted under the name is never written over, so never run.
    const std::string planted = scratch.AddFile("planted\\Zeredira3.exe", "a planted program");
    EXPECT_FALSE(WriteResourceToFile(GetModuleHandleW(nullptr), "AUUPG", "AUUPG", planted));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadWholeFile(planted), "a planted program");
    const std::string written = scratch.PathOf("Zeredira3.exe");
    ASSERT_TRUE(WriteResourceToFile(GetModuleHandleW(nullptr), "AUUPG", "AUUPG", written));

    const std::string built = ReadWholeFile(BuildProgram("Zeredira3.exe"));
    ASSERT_GT(built.size(), sizeof(IMAGE_DOS_HEADER) + sizeof(IMAGE_NT_HEADERS));
    EXPECT_EQ(ReadWholeFile(written), built);
    EXPECT_LE(built.size(), 64u * 1024u);
    // A program carries the stub of its own target.
    const std::string self = ReadWholeFile(BuildProgram("stub_tests.exe"));
    ASSERT_GT(self.size(), sizeof(IMAGE_DOS_HEADER) + sizeof(IMAGE_NT_HEADERS));
    EXPECT_EQ(MachineOf(built), MachineOf(self));

    const std::string log = scratch.PathOf("box.txt");
    const EnvVarScope box("KDSTUB_MESSAGE_LOG", log);
    std::wstring commandLine = WideFromUtf8("\"" + written + "\"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &started));
    ASSERT_EQ(WaitForSingleObject(started.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    EXPECT_EQ(code, static_cast<DWORD>(StubExit::usage));
    EXPECT_NE(ReadWholeFile(log).find("Zeredira3"), std::string::npos);
}

TEST(StubResource, AMissingResourceOrFolderWritesNothing)
{
    ScratchFolder scratch("kdstubres");
    const std::string path = scratch.PathOf("none.bin");
    EXPECT_FALSE(WriteResourceToFile(GetModuleHandleW(nullptr), "NOSUCH", "AUUPG", path));
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(path).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(WriteResourceToFile(GetModuleHandleW(nullptr), "AUUPG", "AUUPG", scratch.PathOf("no\\such\\x.exe")));
}

}  // namespace

// The resources and the PE header of the built zel.exe, read from the file.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/owned_handle.h"
#include "support/child_process.h"
#include "support/scratch.h"

namespace {

struct LibraryTraits {
    using Type = HMODULE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { FreeLibrary(h); }
};
using LibraryHandle = Owned<LibraryTraits>;

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::set<WORD>*>(param)->insert(language);
    return TRUE;
}

class ZelResources : public ::testing::Test {
protected:
    void SetUp() override {
        SetLastError(0xdeadbeef);
        module_.reset(LoadLibraryExW(ZelPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module_.valid()) << GetLastError();
    }
    HMODULE module() const { return module_.get(); }

private:
    LibraryHandle module_;
};

TEST_F(ZelResources, SixStringsInLanguage1033AndNothingBesideThem) {
    const std::pair<UINT, std::wstring> strings[] = {
        {201, L"Error # %d"},
        {339, L"Backup of %s successfully completed"},
        {340, L"Saving error %s "},
        {452, L"(!) Unable to open key:"},
        {501, L"(!) Unable to set SeRestore"},
        {503, L"(!) Unable to set SeBackup"},
    };
    wchar_t buffer[256];
    for (const auto& [id, text] : strings) {
        SCOPED_TRACE(id);
        wmemset(buffer, L'#', ARRAYSIZE(buffer));
        ASSERT_EQ(static_cast<int>(text.size()),
                  LoadStringW(module(), id, buffer, ARRAYSIZE(buffer)));
        EXPECT_EQ(text, buffer);
        std::set<WORD> languages;
        EnumResourceLanguagesW(module(), RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::set<WORD>{1033}, languages);
    }
    for (UINT id : {200u, 202u, 338u, 341u, 451u, 453u, 502u, 504u}) {
        EXPECT_EQ(0, LoadStringW(module(), id, buffer, ARRAYSIZE(buffer))) << id;
    }
}

TEST_F(ZelResources, ManifestAsksForHighestAvailableAndListsFiveSystems) {
    HRSRC found = FindResourceW(module(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, found);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module(), found)));
    ASSERT_NE(nullptr, data);
    const std::string manifest(data, SizeofResource(module(), found));

    EXPECT_NE(std::string::npos, manifest.find("level=\"highestAvailable\""));
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));
    const std::string tag = "<supportedOS Id=\"";
    std::multiset<std::string> listed;
    for (size_t at = manifest.find(tag); at != std::string::npos; at = manifest.find(tag, at + 1)) {
        listed.insert(manifest.substr(at + tag.size(), 38));
    }
    const std::multiset<std::string> systems = {
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
    };
    EXPECT_EQ(systems, listed);
}

TEST(ZelVersionBlock, FixedAndStringFieldsInLanguage040904b0) {
    const std::wstring path = ZelPath();
    DWORD ignored = 0xdeadbeef;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(0u, size) << GetLastError();
    std::vector<BYTE> block(size, 0xCC);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(0x00010002u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010002u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);

    const std::pair<const wchar_t*, std::wstring> fields[] = {
        {L"FileVersion", L"1.2.0.0"},     {L"ProductVersion", L"1.2.0.0"},
        {L"FileDescription", L"Corvane"}, {L"ProductName", L"Corvane"},
        {L"InternalName", L"zel.exe"},    {L"OriginalFilename", L"zel.exe"},
    };
    for (const auto& [name, expected] : fields) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        wchar_t* text = nullptr;
        length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text),
                                   &length))
            << Narrow(name);
        EXPECT_EQ(expected, std::wstring(text, wcsnlen(text, length))) << Narrow(name);
    }
}

TEST(ZelPeHeader, ConsoleProgramForWindows52) {
    bool read = false;
    const std::string image = ReadFileBytes(ZelPath(), &read);
    ASSERT_TRUE(read);
    IMAGE_DOS_HEADER dos;
    ASSERT_GE(image.size(), sizeof(dos));
    memcpy(&dos, image.data(), sizeof(dos));
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos.e_magic);
    IMAGE_NT_HEADERS64 nt;
    ASSERT_GT(dos.e_lfanew, 0);
    ASSERT_GE(image.size(), static_cast<size_t>(dos.e_lfanew) + sizeof(nt));
    memcpy(&nt, image.data() + dos.e_lfanew, sizeof(nt));
    ASSERT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), nt.Signature);
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, nt.FileHeader.Machine);
    ASSERT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt.OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_CUI, nt.OptionalHeader.Subsystem);
    EXPECT_EQ(5, nt.OptionalHeader.MajorOperatingSystemVersion);
    EXPECT_EQ(2, nt.OptionalHeader.MinorOperatingSystemVersion);
    EXPECT_EQ(5, nt.OptionalHeader.MajorSubsystemVersion);
    EXPECT_EQ(2, nt.OptionalHeader.MinorSubsystemVersion);
}

}  // namespace

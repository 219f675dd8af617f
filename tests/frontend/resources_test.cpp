// The resources and the PE header of the built zel.exe, read from the file.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
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

const WORD UsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

const std::map<UINT, std::wstring> ExpectedStrings = {
    {201, L"Error # %d"},
    {339, L"Backup of %s successfully completed"},
    {340, L"Saving error %s "},
    {452, L"(!) Unable to open key:"},
    {501, L"(!) Unable to set SeRestore"},
    {503, L"(!) Unable to set SeBackup"},
};

class ZelResources : public ::testing::Test {
protected:
    void SetUp() override {
        SetLastError(0xdeadbeef);
        module_.reset(LoadLibraryExW(ZelPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module_.valid()) << "LoadLibraryExW failed with " << GetLastError();
    }
    HMODULE module() const { return module_.get(); }

    // The bytes of one resource, empty when it is missing.
    std::string ResourceBytes(LPCWSTR type, LPCWSTR name, WORD language) {
        HRSRC found = FindResourceExW(module(), type, name, language);
        if (!found) return std::string();
        HGLOBAL loaded = LoadResource(module(), found);
        const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
        if (!data) return std::string();
        return std::string(data, SizeofResource(module(), found));
    }

private:
    LibraryHandle module_;
};

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    if (IS_INTRESOURCE(name)) {
        reinterpret_cast<std::vector<WORD>*>(param)->push_back(
            static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
    } else {
        reinterpret_cast<std::vector<WORD>*>(param)->push_back(0);  // a named block: wrong
    }
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::set<WORD>*>(param)->insert(language);
    return TRUE;
}

TEST_F(ZelResources, LoadStringFindsTheSixStrings) {
    for (const auto& [id, text] : ExpectedStrings) {
        SCOPED_TRACE(id);
        wchar_t buffer[256];
        wmemset(buffer, L'#', ARRAYSIZE(buffer));
        int length = LoadStringW(module(), id, buffer, ARRAYSIZE(buffer));
        ASSERT_EQ(static_cast<int>(text.size()), length);
        EXPECT_EQ(text, std::wstring(buffer));
    }
}

TEST_F(ZelResources, LoadStringFindsNothingAtOtherIds) {
    for (UINT id : {0u, 1u, 200u, 202u, 338u, 341u, 451u, 453u, 500u, 502u, 504u, 511u}) {
        SCOPED_TRACE(id);
        wchar_t buffer[64];
        wmemset(buffer, L'#', ARRAYSIZE(buffer));
        EXPECT_EQ(0, LoadStringW(module(), id, buffer, ARRAYSIZE(buffer)));
    }
}

TEST_F(ZelResources, TheStringTableHoldsExactlySixStringsInUsEnglish) {
    std::vector<WORD> blocks;
    ASSERT_TRUE(EnumResourceNamesW(module(), RT_STRING, CollectName,
                                   reinterpret_cast<LONG_PTR>(&blocks)));
    std::map<UINT, std::wstring> found;
    for (WORD block : blocks) {
        SCOPED_TRACE(block);
        ASSERT_NE(0, block);
        std::set<WORD> languages;
        EnumResourceLanguagesW(module(), RT_STRING, MAKEINTRESOURCEW(block), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::set<WORD>{UsEnglish}, languages);

        // A block holds 16 counted strings; ids (block - 1) * 16 + index.
        std::string bytes = ResourceBytes(RT_STRING, MAKEINTRESOURCEW(block), UsEnglish);
        ASSERT_FALSE(bytes.empty());
        std::vector<wchar_t> units(bytes.size() / 2);
        memcpy(units.data(), bytes.data(), units.size() * 2);
        size_t at = 0;
        for (UINT index = 0; index < 16; ++index) {
            ASSERT_LT(at, units.size());
            size_t length = units[at++];
            ASSERT_LE(at + length, units.size());
            if (length) found[(block - 1u) * 16u + index] = std::wstring(&units[at], length);
            at += length;
        }
    }
    EXPECT_EQ(ExpectedStrings, found);
}

TEST_F(ZelResources, EachStringBlockIsFoundUnderLanguage1033) {
    for (const auto& entry : ExpectedStrings) {
        UINT id = entry.first;
        SCOPED_TRACE(id);
        EXPECT_NE(nullptr, FindResourceExW(module(), RT_STRING, MAKEINTRESOURCEW(id / 16 + 1),
                                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
        EXPECT_EQ(nullptr, FindResourceExW(module(), RT_STRING, MAKEINTRESOURCEW(id / 16 + 1),
                                           MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)));
    }
}

TEST_F(ZelResources, ManifestAsksForHighestAvailableAndListsFiveSystems) {
    HRSRC found = FindResourceW(module(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, found);
    HGLOBAL loaded = LoadResource(module(), found);
    ASSERT_NE(nullptr, loaded);
    const char* data = static_cast<const char*>(LockResource(loaded));
    ASSERT_NE(nullptr, data);
    const std::string manifest(data, SizeofResource(module(), found));

    EXPECT_NE(std::string::npos, manifest.find("level=\"highestAvailable\"")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\"")) << manifest;
    const char* systems[] = {
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
    };
    for (const char* id : systems) {
        EXPECT_NE(std::string::npos, manifest.find(std::string("<supportedOS Id=\"") + id + "\""))
            << id;
    }
    size_t count = 0;
    for (size_t at = manifest.find("<supportedOS"); at != std::string::npos;
         at = manifest.find("<supportedOS", at + 1)) {
        ++count;
    }
    EXPECT_EQ(5u, count);
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || !value) {
        return L"<missing>";
    }
    const wchar_t* text = static_cast<const wchar_t*>(value);
    return std::wstring(text, wcsnlen(text, length));
}

TEST(ZelVersionBlock, FixedAndStringVersionsAre1200) {
    const std::wstring path = ZelPath();
    DWORD ignored = 0xdeadbeef;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(0u, size) << GetLastError();
    std::vector<BYTE> block(size, 0xCC);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_NE(nullptr, fixed);
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(0x00010002u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000000u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010002u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000000u, fixed->dwProductVersionLS);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    EXPECT_EQ(L"Corvane", VersionString(block, L"FileDescription"));
    EXPECT_EQ(L"Corvane", VersionString(block, L"ProductName"));
    EXPECT_EQ(L"zel.exe", VersionString(block, L"InternalName"));
    EXPECT_EQ(L"zel.exe", VersionString(block, L"OriginalFilename"));
    EXPECT_EQ(L"1.2.0.0", VersionString(block, L"FileVersion"));
    EXPECT_EQ(L"1.2.0.0", VersionString(block, L"ProductVersion"));
}

TEST(ZelPeHeader, ConsoleProgramWithTheMinimumSystemVersion) {
    bool read = false;
    const std::string image = ReadFileBytes(ZelPath(), &read);
    ASSERT_TRUE(read);
    ASSERT_GE(image.size(), sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos;
    memcpy(&dos, image.data(), sizeof(dos));
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos.e_magic);
#ifdef _WIN64
    using NtHeaders = IMAGE_NT_HEADERS64;
    const WORD machine = IMAGE_FILE_MACHINE_AMD64;
    const WORD magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    const WORD minimumMinor = 2;  // Windows Server 2003 x64 / XP x64
#else
    using NtHeaders = IMAGE_NT_HEADERS32;
    const WORD machine = IMAGE_FILE_MACHINE_I386;
    const WORD magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    const WORD minimumMinor = 0;  // Windows 2000
#endif
    ASSERT_GT(dos.e_lfanew, 0);
    ASSERT_GE(image.size(), static_cast<size_t>(dos.e_lfanew) + sizeof(NtHeaders));
    NtHeaders nt;
    memcpy(&nt, image.data() + dos.e_lfanew, sizeof(nt));
    ASSERT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), nt.Signature);
    EXPECT_EQ(machine, nt.FileHeader.Machine);
    ASSERT_EQ(magic, nt.OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_CUI, nt.OptionalHeader.Subsystem);
    EXPECT_EQ(5, nt.OptionalHeader.MajorOperatingSystemVersion);
    EXPECT_EQ(minimumMinor, nt.OptionalHeader.MinorOperatingSystemVersion);
    EXPECT_EQ(5, nt.OptionalHeader.MajorSubsystemVersion);
    EXPECT_EQ(minimumMinor, nt.OptionalHeader.MinorSubsystemVersion);
}

}  // namespace

// The class registry on Windows: the system registry under HKEY_CLASSES_ROOT\CLSID, read back
// with the registry API and through the lookup that CoCreateInstance's callers use.
#include "platform/classregistry.h"
#include "platform/module.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

namespace {

constexpr CLSID kFirst = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr CLSID kSecond = {0x66666666, 0x7777, 0x8888, {0x99, 0x99, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}};
constexpr const wchar_t* kFirstKey = L"CLSID\\{11111111-2222-3333-4444-555555555555}";

// A text value of HKEY_CLASSES_ROOT (name nullptr: the key's default value); nullopt when absent.
std::optional<std::wstring> ClassesRootText(const std::wstring& key, const wchar_t* name)
{
    wchar_t buffer[1024];
    DWORD bytes = sizeof buffer;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer);
}

class ClassRegistry : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override
    {
        platform::UnregisterInprocServer(kFirst);
        platform::UnregisterInprocServer(kSecond);
    }
};

TEST_F(ClassRegistry, RegisterWritesTheClassesRoot)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "C:\\drivers\\Trutina.dll", "Apartment", "Весы"), S_OK);
    EXPECT_EQ(ClassesRootText(kFirstKey, nullptr), L"Весы");
    EXPECT_EQ(ClassesRootText(std::wstring(kFirstKey) + L"\\InprocServer32", nullptr), L"C:\\drivers\\Trutina.dll");
    EXPECT_EQ(ClassesRootText(std::wstring(kFirstKey) + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
}

TEST_F(ClassRegistry, LookupFindsEachClassAndReregistrationReplaces)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "C:\\a\\first.dll", "Apartment", "first"), S_OK);
    ASSERT_EQ(platform::RegisterInprocServer(kSecond, "C:\\a\\second.dll", "Both", ""), S_OK);
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "C:\\b\\first.dll", "", ""), S_OK);

    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(kFirst, path), S_OK);
    EXPECT_EQ(path, "C:\\b\\first.dll");
    EXPECT_EQ(platform::LookupInprocServer(kSecond, path), S_OK);
    EXPECT_EQ(path, "C:\\a\\second.dll");
    // Nothing of the earlier registration survives the new one.
    EXPECT_EQ(ClassesRootText(std::wstring(kFirstKey) + L"\\InprocServer32", L"ThreadingModel"), std::nullopt);
    EXPECT_EQ(ClassesRootText(kFirstKey, nullptr), std::nullopt);

    ASSERT_EQ(platform::UnregisterInprocServer(kFirst), S_OK);
    EXPECT_EQ(platform::LookupInprocServer(kFirst, path), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(platform::LookupInprocServer(kSecond, path), S_OK);
    EXPECT_EQ(platform::UnregisterInprocServer(kFirst), S_OK); // not registered: nothing to do
}

TEST_F(ClassRegistry, RelativeModulePathIsStoredAbsolute)
{
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, "sub\\..\\server.dll", "Apartment", ""), S_OK);
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(kFirst, path), S_OK);
    EXPECT_EQ(fs::path(path), fs::current_path() / "server.dll");
}

TEST_F(ClassRegistry, NonAsciiPathSurvivesTheRoundTrip)
{
    const std::string cyrillic = "C:\\Драйверы\\Весы.dll";
    ASSERT_EQ(platform::RegisterInprocServer(kFirst, cyrillic, "Apartment", ""), S_OK);
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(kFirst, path), S_OK);
    EXPECT_EQ(path, cyrillic);
}

TEST_F(ClassRegistry, ValuesThatWouldBreakTheEntryAreRefused)
{
    EXPECT_EQ(platform::RegisterInprocServer(kFirst, "C:\\a.dll\nC:\\b.dll", "", ""), SELFREG_E_CLASS);
    EXPECT_EQ(platform::RegisterInprocServer(kFirst, "C:\\a.dll", "Apartment", "two\nlines"), SELFREG_E_CLASS);
    EXPECT_EQ(platform::RegisterInprocServer(kFirst, "", "Apartment", ""), SELFREG_E_CLASS);
    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(kFirst, path), REGDB_E_CLASSNOTREG);
}

TEST_F(ClassRegistry, AnEntryWithoutItsServerIsNotRegistered)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, kFirstKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::string path;
    EXPECT_EQ(platform::LookupInprocServer(kFirst, path), REGDB_E_CLASSNOTREG);
}

int FunctionOfThisProgram() { return 1; }

TEST(ModulePath, NamesTheFileHoldingAnAddress)
{
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const std::string program = platform::ModulePathOf(reinterpret_cast<const void*>(&FunctionOfThisProgram));
    EXPECT_EQ(fs::path(program), fs::path(self));
    const std::string library = platform::ModulePathOf(reinterpret_cast<const void*>(&platform::ModulePathOf));
    EXPECT_EQ(fs::path(library).filename(), "platform.dll");
    EXPECT_TRUE(fs::path(library).is_absolute());
    EXPECT_EQ(platform::ModulePathOf(nullptr), "");
}

} // namespace

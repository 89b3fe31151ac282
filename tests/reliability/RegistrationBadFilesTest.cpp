// The registration check while the operator points at files that are no driver: each one brings
// the prompt back and nothing else (no entry in the class registry, no exception, no object).
#include "FakeDriverFixture.h"

#include "driver/Registration.h"
#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "platform/module.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Under LeakSanitizer: the full stack of every allocation, so that tests/lsan.supp can tell the
// start-up allocations of system libraries that the substitute driver pulls in (and that go when
// it is unloaded) from the program's own; the fast unwinder stops in those frame-pointer-less
// libraries. Read only by a sanitized build.
extern "C" const char* __lsan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

bool DriverRegistered()
{
    std::string path;
    return platform::LookupInprocServer(CLSID_Statera, path) == S_OK;
}

std::string WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string TruncatedCopy(const std::string& library, const std::string& path)
{
    std::ifstream in(library, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return WriteFile(path, bytes.substr(0, bytes.size() / 2));
}

TEST(RegistrationBadFilesTest, EachBadFileBringsThePromptBackAndNothingElse)
{
    TFakeDriverEnvironment environment(/*register_=*/false);
    const std::string folder = environment.Folder();
    std::filesystem::create_directory(folder + "/Trutina.dll.d");
    const std::vector<std::pair<std::string, std::string>> badFiles = {
        {"empty file", WriteFile(folder + "/empty.dll", "")},
        {"text", WriteFile(folder + "/text.dll", "MZ this is not a library\n")},
        {"library without DllRegisterServer",
         platform::ModulePathOf(reinterpret_cast<const void*>(&SysAllocString))},
        {"registration fails", FAILING_REGISTRATION_PATH},
        {"directory", folder + "/Trutina.dll.d"},
        {"missing file", folder + "/missing.dll"},
        {"empty name", ""},
    };
    std::size_t asked = 0;
    platform::ComPtr<ITrutina> driver;
    ASSERT_NO_THROW(EnsureDriverRegistered(driver, [&](const std::string& format, const std::string& file) {
        EXPECT_EQ(format, DriverPromptFormat);
        EXPECT_EQ(file, "Trutina.dll");
        if (asked > 0) {
            SCOPED_TRACE(badFiles[asked - 1].first);
            EXPECT_FALSE(DriverRegistered()) << "the bad file left an entry";
            EXPECT_EQ(fakedriver::LiveInstances(), 0);
        }
        if (asked < badFiles.size())
            RegisterServerFile(badFiles[asked].second);
        else
            RegisterServerFile(fakedriver::ModulePath()); // at last the driver
        ++asked;
    }));
    EXPECT_EQ(asked, badFiles.size() + 1) << "one prompt per bad file, then the driver";
    ASSERT_TRUE(driver);
    EXPECT_EQ(fakedriver::LiveInstances(), 1);
}

// The loader would map the segments that the library's headers announce, past the end of the
// truncated file, and fault (SIGBUS) clearing them; the file is checked against its own headers
// and refused before it is loaded.
TEST(RegistrationBadFilesTest, ATruncatedLibraryBringsThePromptBack)
{
    TFakeDriverEnvironment environment(/*register_=*/false);
    const std::string truncated = TruncatedCopy(FAILING_REGISTRATION_PATH, environment.Folder() + "/truncated.dll");
    int asked = 0;
    platform::ComPtr<ITrutina> driver;
    EnsureDriverRegistered(driver, [&](const std::string&, const std::string&) {
        RegisterServerFile(++asked == 1 ? truncated : fakedriver::ModulePath());
    });
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(driver);
}

// The address of the exported DllRegisterServer resolves to the first module in the process that
// exports that name: here the fake driver, linked into the test. The substitute driver must
// register its own file, not FakeTrutina.dll.
TEST(RegistrationBadFilesTest, AModuleRegistersItsOwnFileWhileAnotherServerIsLoaded)
{
    TFakeDriverEnvironment environment(/*register_=*/false);
    RegisterServerFile(TRUTINA_MODULE_PATH);
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(CLSID_Statera, path), S_OK);
    EXPECT_EQ(std::filesystem::path(path).filename().string(), "Trutina.dll");
}

} // namespace

// The registration check: EnsureDriverRegistered's loop and RegisterServerFile's silent failures.
#include "DriverTestSupport.h"
#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "platform/module.h"

#include "driver/Registration.h"
#include "runtime/exceptions.h"

#include <fstream>
#include <string>
#include <vector>

namespace {

struct TAsk {
    std::string Format;
    std::string FileName;
};

bool FakeRegistered()
{
    std::string path;
    return platform::LookupInprocServer(CLSID_Statera, path) == S_OK;
}

} // namespace

TEST(DriverPromptFormatTest, HasTheFileNamePlaceAndALoneCarriageReturn)
{
    const std::string format = DriverPromptFormat;
    EXPECT_EQ(format, "Необходимо зарегистрировать драйвер. \rУкажите местоположение файла драйвера %s");
    EXPECT_EQ(format.find('\n'), std::string::npos);
}

class RegistrationTest : public TFakeDriverTest {};

TEST_F(RegistrationTest, ARegisteredDriverIsReturnedWithoutAsking)
{
    int asked = 0;
    platform::ComPtr<ITrutina> driver;
    EnsureDriverRegistered(driver, [&](const std::string&, const std::string&) { ++asked; });
    EXPECT_EQ(asked, 0);
    ASSERT_TRUE(driver);
    EXPECT_EQ(fakedriver::LiveInstances(), 1);
    LONG code = 1;
    EXPECT_EQ(driver->get_ResultCode(&code), S_OK);
    EXPECT_EQ(fakedriver::CallTexts(), std::vector<std::string>{"get ResultCode"});
}

TEST_F(RegistrationTest, AnUnregisteredDriverIsAskedForUntilRegistered)
{
    ASSERT_EQ(fakedriver::Unregister(), S_OK);
    std::vector<TAsk> asks;
    platform::ComPtr<ITrutina> driver;
    EnsureDriverRegistered(driver, [&](const std::string& format, const std::string& file) {
        asks.push_back({format, file});
        if (asks.size() == 3) // the operator finds the right file at the third attempt
            RegisterServerFile(fakedriver::ModulePath());
    });
    ASSERT_EQ(asks.size(), 3u);
    for (const auto& ask : asks) {
        EXPECT_EQ(ask.Format, DriverPromptFormat);
        EXPECT_EQ(ask.FileName, "Trutina.dll");
    }
    EXPECT_TRUE(driver);
}

TEST_F(RegistrationTest, AnObjectWithoutTrutinaCountsAsUnregistered)
{
    fakedriver::OfferTrutina(false);
    int asked = 0;
    platform::ComPtr<ITrutina> driver;
    EnsureDriverRegistered(driver, [&](const std::string&, const std::string&) {
        if (++asked == 2)
            fakedriver::OfferTrutina(true);
    });
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(driver);
}

TEST_F(RegistrationTest, TheSilentAbortLeavesTheLoopAtOnce)
{
    ASSERT_EQ(fakedriver::Unregister(), S_OK);
    int asked = 0;
    platform::ComPtr<ITrutina> driver;
    EXPECT_THROW(EnsureDriverRegistered(driver,
                                        [&](const std::string&, const std::string&) {
                                            ++asked;
                                            throw runtime::EAbort();
                                        }),
                 runtime::EAbort);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(driver);
}

TEST_F(RegistrationTest, RegisterServerFileRegistersASelfRegisteringModule)
{
    ASSERT_EQ(fakedriver::Unregister(), S_OK);
    ASSERT_FALSE(FakeRegistered());
    RegisterServerFile(fakedriver::ModulePath());
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(CLSID_Statera, path), S_OK);
    EXPECT_EQ(path, fakedriver::ModulePath());
}

TEST_F(RegistrationTest, RegisterServerFileIgnoresWhatItCannotRegister)
{
    ASSERT_EQ(fakedriver::Unregister(), S_OK);
    const std::string notALibrary = FEnvironment.Folder() + "/Trutina.dll";
    std::ofstream(notALibrary) << "not a library\n";
    // A real library that exports no DllRegisterServer: the platform library itself.
    const std::string withoutEntry = platform::ModulePathOf(reinterpret_cast<const void*>(&SysAllocString));
    ASSERT_FALSE(withoutEntry.empty());
    for (const std::string& file :
         {FEnvironment.Folder() + "/missing.dll", notALibrary, withoutEntry, FEnvironment.Folder(), std::string()}) {
        SCOPED_TRACE(file);
        EXPECT_NO_THROW(RegisterServerFile(file));
        EXPECT_FALSE(FakeRegistered());
    }
}

#include "platform/classregistry.h"
#include "platform/comptr.h"
#include "platform/module.h"
#include "testserver.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <thread>

using platform::ComPtr;

namespace {

class CoCreate : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    // No case leaves the test server loaded for the next one in the same process.
    void TearDown() override
    {
        CoFreeUnusedLibraries();
        CoUninitialize();
    }

    // Registers the test server the way regsvr does: through its own DllRegisterServer.
    static void RegisterTestServer()
    {
        platform::Module server(TEST_SERVER_PATH);
        ASSERT_TRUE(server.Loaded()) << server.Error();
        auto registerServer = reinterpret_cast<HRESULT (*)()>(server.Symbol("DllRegisterServer"));
        ASSERT_NE(registerServer, nullptr);
        ASSERT_EQ(registerServer(), S_OK);
    }

    static bool TestServerLoaded()
    {
#ifdef _WIN32
        return GetModuleHandleW(std::filesystem::path(TEST_SERVER_PATH).filename().wstring().c_str()) != nullptr;
#else
        void* handle = dlopen(TEST_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (handle)
            dlclose(handle);
        return handle != nullptr;
#endif
    }

    testsupport::TTempRegistry FRegistry;
};

TEST_F(CoCreate, CreatesAnObjectOfARegisteredServer)
{
    RegisterTestServer();
    std::string path;
    ASSERT_EQ(platform::LookupInprocServer(CLSID_TestCounter, path), S_OK);
    EXPECT_EQ(path, std::filesystem::canonical(TEST_SERVER_PATH).string());

    ComPtr<ICounter> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_ICounter,
                               counter.OutVoid()),
              S_OK);
    LONG value = 0;
    counter->Increment(&value);
    counter->Increment(&value);
    EXPECT_EQ(value, 2);

    // A second object is a separate instance.
    ComPtr<ICounter> other;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, other.OutVoid()), S_OK);
    other->Increment(&value);
    EXPECT_EQ(value, 1);
}

TEST_F(CoCreate, ObjectCountsReferencesAndAnswersQueries)
{
    RegisterTestServer();
    ICounter* counter = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter,
                               reinterpret_cast<void**>(&counter)),
              S_OK);
    platform::Module server(TEST_SERVER_PATH);
    auto liveObjects = reinterpret_cast<TestServerLiveObjectsFn>(server.Symbol("TestServerLiveObjects"));
    ASSERT_NE(liveObjects, nullptr);
    EXPECT_EQ(liveObjects(), 1);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(counter), unknown);
    void* dispatch = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(counter->QueryInterface(IID_IDispatch, &dispatch), E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr);

    EXPECT_EQ(counter->AddRef(), 3u);
    EXPECT_EQ(counter->Release(), 2u);
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(liveObjects(), 1);
    EXPECT_EQ(counter->Release(), 0u);
    EXPECT_EQ(liveObjects(), 0);
}

TEST_F(CoCreate, ModuleStaysLoadedWhileObjectsLiveAndUnloadsWhenUnused)
{
    RegisterTestServer();
    ComPtr<ICounter> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, counter.OutVoid()),
              S_OK);
    CoFreeUnusedLibraries();
    ASSERT_TRUE(TestServerLoaded());
    LONG value = 0;
    EXPECT_EQ(counter->Increment(&value), S_OK); // its code is still there

    counter.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(TestServerLoaded());

    // And it loads again on demand.
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, counter.OutVoid()),
              S_OK);
    EXPECT_TRUE(TestServerLoaded());
}

enum class Registration { TestServer, MissingFile, TextFile, NoEntryLibrary, DamagedRegistry, Nothing };

struct FailureCase {
    const char* Name;
    Registration Setup;
    CLSID Clsid;
    DWORD Context;
    HRESULT Expected;
    const char* NotOnWindows = nullptr; // why the case cannot apply there
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.Name; }


class CoCreateFailure : public CoCreate, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CoCreateFailure, ReportsAStatusAndNoObject)
{
    const FailureCase& c = GetParam();
#ifdef _WIN32
    if (c.NotOnWindows)
        GTEST_SKIP() << c.NotOnWindows;
#endif
    const std::string dataFile = (FRegistry.Folder() / "not-a-library.dll").string();
    switch (c.Setup) {
    case Registration::TestServer:
        RegisterTestServer();
        // The module serves only its own two classes.
        ASSERT_EQ(platform::RegisterInprocServer(CLSID_NotServed, TEST_SERVER_PATH, "Apartment", ""), S_OK);
        break;
    case Registration::MissingFile:
        ASSERT_EQ(platform::RegisterInprocServer(c.Clsid, (FRegistry.Folder() / "gone.dll").string(), "", ""), S_OK);
        break;
    case Registration::TextFile:
        testsupport::WriteFile(dataFile, "MZ this is only text\n");
        ASSERT_EQ(platform::RegisterInprocServer(c.Clsid, dataFile, "", ""), S_OK);
        break;
    case Registration::NoEntryLibrary:
        ASSERT_EQ(platform::RegisterInprocServer(c.Clsid, NO_ENTRY_MODULE_PATH, "", ""), S_OK);
        break;
    case Registration::DamagedRegistry:
        RegisterTestServer();
        testsupport::WriteFile(FRegistry.Path(), testsupport::ReadFile(FRegistry.Path()) + "garbage line\n");
        break;
    case Registration::Nothing:
        break;
    }

    void* object = reinterpret_cast<void*>(0x1);
    const HRESULT hr = CoCreateInstance(c.Clsid, nullptr, c.Context, IID_ICounter, &object);
#ifdef _WIN32
    // A module that cannot be loaded or has no entry point: the system's COM chooses its own
    // failure status for it (Wine: E_ACCESSDENIED for a file it cannot load).
    if (c.Setup == Registration::MissingFile || c.Setup == Registration::TextFile
        || c.Setup == Registration::NoEntryLibrary)
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    else
#endif
        EXPECT_EQ(hr, c.Expected);
    EXPECT_EQ(object, nullptr);
#ifndef _WIN32
    // A module that is not there or cannot serve: its path and why, as regsvr --registered says them.
    if (hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL)
        EXPECT_NE(platform::ClassRegistryError().find("registered module /"), std::string::npos)
            << platform::ClassRegistryError();
#endif
}


const FailureCase kFailureCases[] = {
    {"UnregisteredClass", Registration::Nothing, CLSID_TestCounter, CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},
    {"OtherClassRegistered", Registration::TestServer, IID_IDispatch, CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},
    {"LocalServerOnly", Registration::TestServer, CLSID_TestCounter, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
    {"MissingFile", Registration::MissingFile, CLSID_TestCounter, CLSCTX_INPROC_SERVER, CO_E_DLLNOTFOUND},
    {"NotALibrary", Registration::TextFile, CLSID_TestCounter, CLSCTX_INPROC_SERVER, CO_E_ERRORINDLL},
    {"NoDllGetClassObject", Registration::NoEntryLibrary, CLSID_TestCounter, CLSCTX_INPROC_SERVER,
     CO_E_ERRORINDLL},
    {"FactoryFails", Registration::TestServer, CLSID_FailingFactory, CLSCTX_INPROC_SERVER, kFactoryFailure},
    {"ClassNotInModule", Registration::TestServer, CLSID_NotServed, CLSCTX_INPROC_SERVER, CLASS_E_CLASSNOTAVAILABLE},
    // The stand-in turns an exception out of a factory into a status; the system's COM does not
    // catch it (a server must not throw), and its registry has no text file to damage.
    {"FactoryThrows", Registration::TestServer, CLSID_ThrowingFactory, CLSCTX_INPROC_SERVER, E_UNEXPECTED,
     "the system's COM does not catch an exception out of a factory (a server must not throw)"},
    {"DamagedRegistry", Registration::DamagedRegistry, CLSID_TestCounter, CLSCTX_INPROC_SERVER, REGDB_E_READREGDB,
     "the class registry is the system's: no text file to damage"},
};

INSTANTIATE_TEST_SUITE_P(Cases, CoCreateFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.Name); });

#ifndef _WIN32
// The file checked before loading is the file loaded: a module path the registry holds is used
// exactly (a trailing space names another file), and a bare name in a hand-edited registry is
// refused, not searched for by the loader among the system's libraries.
TEST_F(CoCreate, LoadsExactlyTheRegisteredFileOrNothing)
{
    const std::filesystem::path server = std::filesystem::canonical(TEST_SERVER_PATH);
    const std::string section = "[{6A1D2F11-3B4C-4D5E-8F01-23456789ABCD}]\n"; // CLSID_TestCounter
    const std::pair<const char*, std::string> cases[] = {
        {"trailing space", "InprocServer32=\"" + server.string() + " \"\n"},
        {"bare name", "InprocServer32=" + server.filename().string() + "\n"},
        {"relative path", "InprocServer32=./" + server.filename().string() + "\n"},
    };
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(server.parent_path()); // where a bare name would be found
    for (const auto& [name, line] : cases) {
        SCOPED_TRACE(name);
        testsupport::WriteFile(FRegistry.Path(), section + line);
        ComPtr<ICounter> counter;
        EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, counter.OutVoid()),
                  CO_E_DLLNOTFOUND);
        EXPECT_FALSE(counter);
    }
    std::filesystem::current_path(saved);
    EXPECT_FALSE(TestServerLoaded());
}
#else
TEST_F_ELSEWHERE(CoCreate, LoadsExactlyTheRegisteredFileOrNothing,
                 "the class registry is the system's: no hand-edited file to hold such a path")
#endif

TEST_F(CoCreate, AggregationIsRefusedByTheFactory)
{
    RegisterTestServer();
    testsupport::TCountedObject outer;
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
}

TEST_F(CoCreate, GetClassObjectHandsOutTheFactory)
{
    RegisterTestServer();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.OutVoid()),
              S_OK);
    ComPtr<ICounter> counter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICounter, counter.OutVoid()), S_OK);
    LONG value = 0;
    EXPECT_EQ(counter->Increment(&value), S_OK);
    EXPECT_EQ(value, 1);
}

TEST(CoCreateUninitialised, FailsOnAThreadWithoutCom)
{
    testsupport::TTempRegistry registry;
    HRESULT hr = S_OK;
    void* object = reinterpret_cast<void*>(0x1);
    std::thread([&] { hr = CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object); })
        .join();
    EXPECT_EQ(hr, CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);

    // Initialised and uninitialised again: the same.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
}

} // namespace

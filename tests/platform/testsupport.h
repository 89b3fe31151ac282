// Helpers shared by the platform tests: a temporary class registry and a reference-counted object.
#pragma once

#include "platform/classregistry.h"
#include "TestEnv.h"
#include "testserver.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace testsupport {

// A fresh folder for one test; PONDERIX_CLASS_REGISTRY points into it while the object lives.
// On Windows the registry is the system's: the test server's classes are removed from it instead
// when the object is made and when it goes.
class TTempRegistry {
public:
    TTempRegistry()
    {
        RemoveTestClasses();
        FFolder = testenv::MakeTempFolder("ponderix-test-");
        FPath = (FFolder / "config" / "classes.reg").string();
        testenv::SetVariable("PONDERIX_CLASS_REGISTRY", FPath);
    }
    ~TTempRegistry()
    {
        RemoveTestClasses();
        testenv::UnsetVariable("PONDERIX_CLASS_REGISTRY");
        std::error_code ec;
        std::filesystem::remove_all(FFolder, ec);
    }
    const std::filesystem::path& Folder() const { return FFolder; }
    const std::string& Path() const { return FPath; }

private:
    static void RemoveTestClasses()
    {
#ifdef _WIN32
        for (const CLSID& clsid : {CLSID_TestCounter, CLSID_FailingFactory, CLSID_ThrowingFactory, CLSID_NotServed})
            platform::UnregisterInprocServer(clsid);
#endif
    }

    std::filesystem::path FFolder;
    std::string FPath;
};

// An IUnknown that counts its references and notes when the last one goes.
class TCountedObject final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --FRefs; }
    ULONG Refs() const { return FRefs; }

private:
    std::atomic<ULONG> FRefs{1};
};

inline std::string ReadFile(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

inline void WriteFile(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

} // namespace testsupport

#include "platform/bstr.h"
#include "platform/comptr.h"

#include <gtest/gtest.h>

#include <thread>

using platform::ComPtr;

namespace {

ComPtr<IErrorInfo> MakeErrorInfo(const char16_t* description)
{
    ComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(create.Out()), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(platform::AsOleStr(description)));
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(create.As(IID_IErrorInfo, info), S_OK);
    return info;
}

class ErrorInfoSlot : public ::testing::Test {
protected:
    void TearDown() override { SetErrorInfo(0, nullptr); }
};

TEST_F(ErrorInfoSlot, GetHandsTheObjectOverAndClearsTheSlot)
{
    ComPtr<IErrorInfo> info = MakeErrorInfo(u"Нет связи");
    ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);

    ComPtr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, got.Out()), S_OK);
    EXPECT_EQ(got.Get(), info.Get());
    platform::BStr description;
    ASSERT_EQ(got->GetDescription(description.Out()), S_OK);
    EXPECT_EQ(description.Text(), u"Нет связи");

    EXPECT_EQ(GetErrorInfo(0, got.Out()), S_FALSE);
    EXPECT_EQ(got.Get(), nullptr);
}

TEST_F(ErrorInfoSlot, SettingNullClearsAndReleases)
{
    ComPtr<IErrorInfo> info = MakeErrorInfo(u"x");
    SetErrorInfo(0, info.Get());
    ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
    IErrorInfo* got = reinterpret_cast<IErrorInfo*>(0x1);
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
    EXPECT_EQ(got, nullptr);
    // Only our own reference is left.
    IErrorInfo* raw = info.Detach();
    raw->AddRef();
    EXPECT_EQ(raw->Release(), 1u);
    EXPECT_EQ(raw->Release(), 0u);
}

TEST_F(ErrorInfoSlot, SlotHoldsExactlyOneReference)
{
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    EXPECT_EQ(create->Release(), 1u);

    SetErrorInfo(0, info);
    EXPECT_EQ(info->Release(), 1u); // the slot's reference keeps it alive
    IErrorInfo* back = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &back), S_OK);
    EXPECT_EQ(back, info);
    EXPECT_EQ(back->Release(), 0u); // handed over: the slot kept none
}

TEST_F(ErrorInfoSlot, ANewErrorReplacesTheOld)
{
    ComPtr<IErrorInfo> first = MakeErrorInfo(u"first");
    ComPtr<IErrorInfo> second = MakeErrorInfo(u"second");
    SetErrorInfo(0, first.Get());
    SetErrorInfo(0, second.Get());
    ComPtr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, got.Out()), S_OK);
    EXPECT_EQ(got.Get(), second.Get());
    IErrorInfo* raw = first.Detach();
    EXPECT_EQ(raw->Release(), 0u); // the slot released the replaced one
}

TEST_F(ErrorInfoSlot, EachThreadHasItsOwnSlot)
{
    ComPtr<IErrorInfo> info = MakeErrorInfo(u"main");
    SetErrorInfo(0, info.Get());

    HRESULT otherBefore = E_FAIL, otherAfter = E_FAIL;
    std::thread other([&] {
        IErrorInfo* seen = nullptr;
        otherBefore = GetErrorInfo(0, &seen);
        ComPtr<IErrorInfo> own = MakeErrorInfo(u"worker");
        SetErrorInfo(0, own.Get());
        otherAfter = GetErrorInfo(0, &seen);
        if (seen)
            seen->Release();
        SetErrorInfo(0, own.Get()); // left set when the thread ends: released with the thread
    });
    other.join();
    EXPECT_EQ(otherBefore, S_FALSE);
    EXPECT_EQ(otherAfter, S_OK);

    ComPtr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, got.Out()), S_OK);
    EXPECT_EQ(got.Get(), info.Get());
}

TEST(ErrorInfoObject, FieldsRoundTrip)
{
    const GUID source = IID_IDispatch;
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Out()), S_OK);
    create->SetGUID(source);
    create->SetSource(const_cast<LPOLESTR>(platform::AsOleStr(u"Trutina")));
    create->SetDescription(const_cast<LPOLESTR>(platform::AsOleStr(u"Весы не отвечают")));
    create->SetHelpContext(42);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(create.As(IID_IErrorInfo, info), S_OK);

    GUID guid{};
    info->GetGUID(&guid);
    EXPECT_EQ(guid, source);
    platform::BStr text;
    info->GetSource(text.Out());
    EXPECT_EQ(text.Text(), u"Trutina");
    info->GetDescription(text.Out());
    EXPECT_EQ(text.Text(), u"Весы не отвечают");
    info->GetHelpFile(text.Out());
    EXPECT_EQ(text.Get(), nullptr); // never set
    DWORD context = 0;
    info->GetHelpContext(&context);
    EXPECT_EQ(context, 42u);
}

TEST(ErrorInfoObject, QueryInterfaceKeepsIdentityAndRefusesOthers)
{
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Out()), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(create.As(IID_IErrorInfo, info), S_OK);
    ComPtr<IUnknown> fromCreate, fromInfo;
    ASSERT_EQ(create.As(IID_IUnknown, fromCreate), S_OK);
    ASSERT_EQ(info.As(IID_IUnknown, fromInfo), S_OK);
    EXPECT_EQ(fromCreate.Get(), fromInfo.Get());

    void* other = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(info->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
#ifndef _WIN32
    // The stand-in's own guarantee; the system's object does not check the out pointer.
    EXPECT_EQ(info->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
#endif
}

} // namespace

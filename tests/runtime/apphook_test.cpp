#include "runtime/apphook.h"
#include "runtime/exceptions.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using namespace runtime;

// Each test starts and ends with no hook installed.
class AppHook : public ::testing::Test {
protected:
    void SetUp() override { FPrevious = SetApplicationExceptionHook({}); }
    void TearDown() override { SetApplicationExceptionHook(FPrevious); }

private:
    TExceptionHook FPrevious;
};

std::string MessageOf(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return x.what();
    }
}

TEST_F(AppHook, InstalledHookReceivesTheException)
{
    std::string seen;
    SetApplicationExceptionHook([&](std::exception_ptr e) { seen = MessageOf(e); });
    HandleApplicationException(std::make_exception_ptr(EConvertError("\"x\" не является целым числом")));
    EXPECT_EQ(seen, "\"x\" не является целым числом");
}

TEST_F(AppHook, SettingAHookReturnsThePreviousOne)
{
    int firstCalls = 0, secondCalls = 0;
    EXPECT_FALSE(SetApplicationExceptionHook([&](std::exception_ptr) { ++firstCalls; }));
    TExceptionHook previous = SetApplicationExceptionHook([&](std::exception_ptr) { ++secondCalls; });
    ASSERT_TRUE(previous);
    HandleApplicationException(std::make_exception_ptr(EAbort()));
    EXPECT_EQ(secondCalls, 1);
    EXPECT_EQ(firstCalls, 0);

    SetApplicationExceptionHook(previous); // put the first back, as a closing editor does
    HandleApplicationException(std::make_exception_ptr(EAbort()));
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 1);
}

TEST_F(AppHook, WithoutAHookTheExceptionIsSwallowed)
{
    EXPECT_NO_THROW(HandleApplicationException(std::make_exception_ptr(std::runtime_error("lost"))));
    int calls = 0;
    SetApplicationExceptionHook([&](std::exception_ptr) { ++calls; });
    SetApplicationExceptionHook({}); // uninstalled
    EXPECT_NO_THROW(HandleApplicationException(std::make_exception_ptr(std::runtime_error("lost"))));
    EXPECT_EQ(calls, 0);
}

TEST_F(AppHook, WhatTheHookThrowsIsSwallowed)
{
    SetApplicationExceptionHook([](std::exception_ptr e) { std::rethrow_exception(e); });
    EXPECT_NO_THROW(HandleApplicationException(std::make_exception_ptr(EInvalidOp())));
    SetApplicationExceptionHook([](std::exception_ptr) { throw 42; });
    EXPECT_NO_THROW(HandleApplicationException(std::make_exception_ptr(EInvalidOp())));
}

TEST_F(AppHook, HookMayReplaceItselfWhileRunning)
{
    int calls = 0;
    SetApplicationExceptionHook([&](std::exception_ptr) {
        ++calls;
        SetApplicationExceptionHook({});
    });
    HandleApplicationException(std::make_exception_ptr(EAbort()));
    HandleApplicationException(std::make_exception_ptr(EAbort()));
    EXPECT_EQ(calls, 1);
}

} // namespace

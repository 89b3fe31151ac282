#include "platform/apartment.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <poll.h>
#endif

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Whether the apartment's thread has been told that calls wait: its notification handle is
// readable, or on Windows a posted message waits in the thread's queue.
bool NotifyHandleReadable()
{
#ifdef _WIN32
    return (HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0;
#else
    pollfd p{platform::ApartmentNotifyHandle(), POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
#endif
}

TEST(CoInitialize, CountsAndRefusesAnotherModel)
{
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        const platform::ApartmentRef apartment = platform::CurrentApartment();
        ASSERT_NE(apartment, nullptr);
        CoUninitialize();
        EXPECT_EQ(platform::CurrentApartment(), apartment); // one initialisation is still open
        CoUninitialize();
        EXPECT_EQ(platform::CurrentApartment(), nullptr);
        EXPECT_EQ(platform::ApartmentNotifyHandle(), -1);
        CoUninitialize(); // one too many: harmless
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); // a new start may choose again
        EXPECT_EQ(platform::CurrentApartment(), nullptr);
        CoUninitialize();
    }).join();
}

class ApartmentQueue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        FApartment = platform::CurrentApartment();
        ASSERT_NE(FApartment, nullptr);
    }
    void TearDown() override { CoUninitialize(); }

    platform::ApartmentRef FApartment;
};

TEST_F(ApartmentQueue, WorkerCallsRunOnTheApartmentThreadInPostingOrder)
{
    constexpr int kCalls = 200;
    std::mutex lock;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    int refused = 0;
    std::thread worker([&, apartment = FApartment] {
        for (int i = 0; i < kCalls; ++i)
            if (!platform::PostToApartment(apartment, [&, i] {
                    std::lock_guard guard(lock);
                    order.push_back(i);
                    threads.push_back(std::this_thread::get_id());
                }))
                ++refused;
    });

    int ran = 0;
    for (int rounds = 0; ran < kCalls && rounds < 1000; ++rounds)
        ran += platform::WaitAndPumpApartment(50);
    worker.join();
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(ran, kCalls);
    ASSERT_EQ(order.size(), std::size_t(kCalls));
    for (int i = 0; i < kCalls; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(threads[i], std::this_thread::get_id());
    }
}

TEST_F(ApartmentQueue, NotifyHandleIsReadableExactlyWhileCallsWait)
{
    EXPECT_FALSE(NotifyHandleReadable());
    int ran = 0;
    std::thread([&, apartment = FApartment] {
        platform::PostToApartment(apartment, [&] { ++ran; });
        platform::PostToApartment(apartment, [&] { ++ran; });
    }).join();
    EXPECT_TRUE(NotifyHandleReadable());
    EXPECT_EQ(ran, 0); // nothing runs until the apartment pumps
    EXPECT_EQ(platform::PumpApartment(), 2);
    EXPECT_EQ(ran, 2);
    EXPECT_FALSE(NotifyHandleReadable());
    EXPECT_EQ(platform::PumpApartment(), 0);
}

TEST_F(ApartmentQueue, CallPostedWhilePumpingWaitsForTheNextPump)
{
    int ran = 0;
    std::function<void()> repost = [&] {
        ++ran;
        platform::PostToApartment(FApartment, repost);
    };
    platform::PostToApartment(FApartment, repost);
    EXPECT_EQ(platform::PumpApartment(), 1);
    EXPECT_TRUE(NotifyHandleReadable());
    EXPECT_EQ(platform::PumpApartment(), 1);
    EXPECT_EQ(ran, 2);
}

// A call posted while others still wait (so no new wake-up was sent) is announced again after
// the pump: on Windows the wake message that started the pump has been used up.
TEST_F(ApartmentQueue, CallPostedBehindWaitingCallsIsAnnouncedAfterThePump)
{
    int ran = 0;
    platform::PostToApartment(FApartment, [&] {
        ++ran;
        platform::PostToApartment(FApartment, [&] { ++ran; });
    });
    platform::PostToApartment(FApartment, [&] { ++ran; });
    EXPECT_EQ(platform::WaitAndPumpApartment(0), 2);
    EXPECT_TRUE(NotifyHandleReadable()) << "the third call waits unannounced";
    EXPECT_EQ(platform::WaitAndPumpApartment(0), 1);
    EXPECT_EQ(ran, 3);
    EXPECT_FALSE(NotifyHandleReadable());
}

// What a posted call raises: to the handler when one is set (the calls after it still run),
// else out of the pump to its caller (the calls after it wait for the next pump).
TEST_F(ApartmentQueue, RaisingCallGoesToTheHandlerOrLeavesThePump)
{
    std::vector<std::string> handled;
    int ran = 0;
    auto post = [&] {
        platform::PostToApartment(FApartment, [] { throw std::runtime_error("posted call failed"); });
        platform::PostToApartment(FApartment, [&] { ++ran; });
    };
    auto previous = platform::SetPostedCallExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            handled.push_back(x.what());
        }
    });
    post();
    EXPECT_EQ(platform::PumpApartment(), 2);
    EXPECT_EQ(handled, std::vector<std::string>{"posted call failed"});
    EXPECT_EQ(ran, 1);

    platform::SetPostedCallExceptionHandler({});
    post();
    EXPECT_THROW(platform::PumpApartment(), std::runtime_error);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(platform::PumpApartment(), 1);
    EXPECT_EQ(ran, 2);
    platform::SetPostedCallExceptionHandler(std::move(previous));
}

#ifdef _WIN32
// The system's own message loop (any loop: Qt's, a modal dialog's) runs posted calls through the
// apartment's window; an exception cannot cross the system's dispatch and is dropped there when
// no handler takes it.
TEST_F(ApartmentQueue, TheSystemsMessageLoopRunsPostedCallsAndNothingEscapesIt)
{
    auto previous = platform::SetPostedCallExceptionHandler({});
    int ran = 0;
    platform::PostToApartment(FApartment, [&] {
        ++ran;
        platform::PostToApartment(FApartment, [&] { ++ran; });
    });
    platform::PostToApartment(FApartment, [] { throw std::runtime_error("posted call failed"); });
    platform::PostToApartment(FApartment, [&] { ++ran; });
    MSG msg;
    for (int i = 0; i < 100 && ran < 3; ++i) { // up to two seconds
        MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    EXPECT_EQ(ran, 3);
    EXPECT_FALSE(NotifyHandleReadable());
    platform::SetPostedCallExceptionHandler(std::move(previous));
}
#else
TEST_F_ELSEWHERE(ApartmentQueue, TheSystemsMessageLoopRunsPostedCallsAndNothingEscapesIt,
                 "only Windows has a system message loop that runs posted calls")
#endif

TEST_F(ApartmentQueue, WaitReturnsAfterTheTimeoutWhenNothingComes)
{
    EXPECT_EQ(platform::WaitAndPumpApartment(20), 0);
}

TEST(ApartmentLifetime, NothingRunsAfterCoUninitialize)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    const platform::ApartmentRef apartment = platform::CurrentApartment();
    std::atomic<int> ran{0};
    auto held = std::make_shared<int>(0); // captured by the waiting calls
    std::thread([&] {
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(platform::PostToApartment(apartment, [&ran, held] { ++ran; }));
    }).join();
    EXPECT_EQ(held.use_count(), 4);

    CoUninitialize();
    EXPECT_EQ(held.use_count(), 1); // the waiting calls were dropped, with what they held
    bool posted = true;
    std::thread([&] { posted = platform::PostToApartment(apartment, [&ran] { ++ran; }); }).join();
    EXPECT_FALSE(posted);

    // A new apartment on the same thread does not inherit them.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_NE(platform::CurrentApartment(), apartment);
    EXPECT_EQ(platform::WaitAndPumpApartment(10), 0);
    CoUninitialize();
    EXPECT_EQ(ran.load(), 0);
}

// Workers keep posting while the apartment pumps and then closes: every post either runs on the
// apartment thread before the close or is refused; none is lost silently or runs later.
TEST(ApartmentLifetime, WorkersPostingWhileTheApartmentCloses)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    const platform::ApartmentRef apartment = platform::CurrentApartment();
    std::atomic<int> accepted{0};
    std::atomic<int> ran{0};
    std::atomic<bool> closed{false};
    std::atomic<int> ranAfterClose{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&] {
            while (platform::PostToApartment(apartment, [&] {
                ++ran;
                if (closed)
                    ++ranAfterClose;
            }))
                ++accepted;
        });
    while (ran < 500)
        platform::WaitAndPumpApartment(10);
    CoUninitialize();
    closed = true;
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(platform::PumpApartment(), 0);
    EXPECT_EQ(ranAfterClose.load(), 0);
    EXPECT_GE(accepted.load(), ran.load());
}

TEST(ApartmentLifetime, CallThatUninitialisesDropsTheRest)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    const platform::ApartmentRef apartment = platform::CurrentApartment();
    std::vector<int> ran;
    platform::PostToApartment(apartment, [&] { ran.push_back(1); });
    platform::PostToApartment(apartment, [&] {
        ran.push_back(2);
        CoUninitialize();
    });
    platform::PostToApartment(apartment, [&] { ran.push_back(3); });
    EXPECT_EQ(platform::PumpApartment(), 2);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(platform::CurrentApartment(), nullptr);
}

TEST(ApartmentLifetime, ThreadEndingWithoutUninitialiseClosesItsApartment)
{
    platform::ApartmentRef apartment;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        apartment = platform::CurrentApartment();
    }).join();
    ASSERT_NE(apartment, nullptr);
    EXPECT_FALSE(platform::PostToApartment(apartment, [] {}));
}

TEST(ApartmentLifetime, NoApartmentWithoutApartmentModel)
{
    EXPECT_FALSE(platform::PostToApartment(nullptr, [] {}));
    std::thread([] {
        EXPECT_EQ(platform::PumpApartment(), 0);
        EXPECT_EQ(platform::ApartmentNotifyHandle(), -1);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(platform::CurrentApartment(), nullptr);
        CoUninitialize();
    }).join();
}

} // namespace

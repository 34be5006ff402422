// Handling an Input datagram, applied or dropped, allocates nothing and logs nothing. The counting
// operator new below calls malloc so g++'s shared sanitizer runtimes still see it; clang links its own
// operator new statically, so there the sanitizer's allocation hook counts instead.

#include "FakePhone.h"
#include "LogCapture.h"
#include "Server/Server.h"
#include "SimulatedBus/SimulatedBus.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#if defined(__clang__) && defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELOTRIX_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace {

thread_local bool counting = false;
thread_local std::size_t allocations = 0;

} // namespace

#ifdef VELOTRIX_SANITIZER_ALLOCATOR

#include <sanitizer/allocator_interface.h>

namespace {

void CountAllocation(const volatile void*, std::size_t) {
    if (counting) ++allocations;
}
void IgnoreFree(const volatile void*) {}

void StartCounting() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(&CountAllocation, &IgnoreFree) != 0;
    (void)installed;
}

} // namespace

#else

namespace {

void StartCounting() {}

void* Allocate(std::size_t size) noexcept {
    if (counting) ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
    if (counting) ++allocations;
    void* memory = nullptr;
    std::size_t align = static_cast<std::size_t>(alignment);
    if (align < sizeof(void*)) align = sizeof(void*);
    return posix_memalign(&memory, align, size == 0 ? 1 : size) == 0 ? memory : nullptr;
}

void* AllocateOrThrow(void* memory) {
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

} // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(Allocate(size)); }
void* operator new[](std::size_t size) { return AllocateOrThrow(Allocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(AllocateAligned(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(AllocateAligned(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }

#endif

namespace Velotrix {
namespace {

// Heap allocations made on this thread while `work` runs.
template <typename Work>
std::size_t AllocationsDuring(Work&& work) {
    StartCounting();
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations;
}

// The receive thread's own step, lock and all: the server without a socket, whose answers go nowhere.
class AllocationTest : public ::testing::Test {
protected:
    void SetUp() override { SimulatedBus::Reset(); }
    void TearDown() override { SimulatedBus::Reset(); }

    void Send(Server& server, const FakePhone& phone, const Bytes& datagram, std::int64_t now) {
        server.HandleDatagram(datagram.data(), static_cast<int>(datagram.size()), phone.From(), now);
    }
    LogCapture logs;
};

TEST_F(AllocationTest, InputsAllocateNothingAndLogNothingWhetherAppliedOrDropped) {
    Server server;
    server.SetAskFirst(false);
    FakePhone active("Active phone", 1);
    Send(server, active, active.Hello(), 0);
    server.SetAskFirst(true);
    FakePhone waiting("Waiting phone", 2);
    Send(server, waiting, waiting.Hello(), 0);
    const std::vector<PhoneView> views = server.Snapshot();
    ASSERT_EQ(views.size(), 2u);
    ASSERT_EQ(views[1].state, static_cast<std::uint8_t>(PhoneState::Waiting));
    const std::uint32_t session = views[0].sessionId, waitingSession = views[1].sessionId;
    const std::uint32_t serial = SimulatedBus::PluggedSerials().at(0);
    std::uint32_t unknown = session + 1;
    while (unknown == 0 || unknown == session || unknown == waitingSession) ++unknown;

    constexpr int Count = 1000;
    struct Case {
        const char* what;
        FakePhone* phone;
        std::uint32_t session;
        int firstSequence, step;
        std::uint64_t reports;
    };
    const Case cases[] = {
        {"accepted, each newer than the last", &active, session, 1, 1, Count},
        {"duplicates of the last applied", &active, session, Count, 0, 0},
        {"stale, older than the last applied", &active, session, Count - 1, -1, 0},
        {"from a phone waiting for approval", &waiting, waitingSession, 1, 1, 0},
        {"with a session number nobody has", &active, unknown, 1, 1, 0},
    };
    std::int64_t now = 1'000'000'000;
    for (const Case& c : cases) {
        // Everything the loop needs is made before counting starts.
        std::vector<Bytes> datagrams;
        for (int i = 0; i < Count; ++i)
            datagrams.push_back(c.phone->Input({.sequence = static_cast<std::uint16_t>(c.firstSequence + i * c.step),
                                                .state = {.sessionId = c.session,
                                                          .leftX = static_cast<std::int16_t>(i * 31),
                                                          .rightTrigger = static_cast<std::uint16_t>(i * 65),
                                                          .buttons = static_cast<std::uint16_t>(i),
                                                          .echo = static_cast<std::uint32_t>(i)}}));
        const std::uint64_t reportsBefore = SimulatedBus::ReportCount(serial);
        const std::size_t linesBefore = logs.Lines().size();

        const std::size_t allocated = AllocationsDuring([&] {
            for (const Bytes& datagram : datagrams) Send(server, *c.phone, datagram, now += 4'000'000);
        });

        EXPECT_EQ(allocated, 0u) << c.what;
        EXPECT_EQ(SimulatedBus::ReportCount(serial) - reportsBefore, c.reports) << c.what;
        EXPECT_EQ(logs.Lines().size(), linesBefore) << c.what;
    }
    // The counter sees what the server allocates: a new phone's record.
    FakePhone newcomer("Newcomer", 3);
    const Bytes hello = newcomer.Hello();
    EXPECT_GT(AllocationsDuring([&] { Send(server, newcomer, hello, now); }), 0u);
}

} // namespace
} // namespace Velotrix

// The owners and the lookup that the Windows modules share: the COM pointer, the COM apartment and
// functions looked up at run time.

#include "Platform/ComApartment.h"
#include "Platform/ComPtr.h"
#include "Platform/ProcAddress.h"

#include <gtest/gtest.h>

#include <thread>
#include <type_traits>
#include <utility>

namespace Velotrix {
namespace {

// Counts releases like a COM object would; ComPtr needs nothing else of it.
struct CountedInterface {
    int* releases;
    void Release() { ++*releases; }
};

TEST(ComPtrTest, ReleasesEachReferenceExactlyOnceAndOnlyMoves) {
    static_assert(!std::is_copy_constructible_v<ComPtr<CountedInterface>>);
    static_assert(!std::is_copy_assignable_v<ComPtr<CountedInterface>>);
    int firstReleases = 0, secondReleases = 0;
    CountedInterface first{&firstReleases}, second{&secondReleases};
    {
        ComPtr<CountedInterface> owner(&first);
        ComPtr<CountedInterface> moved(std::move(owner));
        EXPECT_FALSE(owner);
        EXPECT_EQ(firstReleases, 0);
        *moved.Put() = &second; // Put() gives the old reference back first
        EXPECT_EQ(firstReleases, 1);
        ComPtr<CountedInterface> target(&first);
        target = std::move(moved);
    }
    EXPECT_EQ(firstReleases, 2);
    EXPECT_EQ(secondReleases, 1);
}

// The apartment kind of this thread, or -1 when it has no COM.
int ApartmentKind() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) ? static_cast<int>(type) : -1;
}

TEST(ComApartmentTest, EachGuardGivesBackWhatItTookAndNothingElse) {
    // On a thread of its own, so that no other test's COM is in the way.
    std::thread([] {
        ASSERT_EQ(ApartmentKind(), -1);
        {
            const ComApartment outer(COINIT_APARTMENTTHREADED);
            ASSERT_TRUE(outer.Ready());
            {
                const ComApartment again(COINIT_APARTMENTTHREADED); // S_FALSE, which still counts
                EXPECT_TRUE(again.Ready());
                const ComApartment other(COINIT_MULTITHREADED); // the other kind: refused, owes nothing
                EXPECT_FALSE(other.Ready());
            }
            EXPECT_NE(ApartmentKind(), -1) << "the inner guards took the outer one's COM away";
        }
        EXPECT_EQ(ApartmentKind(), -1) << "COM outlived its guard";
    }).join();
}

TEST(LookupFunctionTest, FindsAnExportAndAnswersNullForAMissingOneOrModule) {
    using GetTickCount64Function = ULONGLONG(WINAPI*)();
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto found = LookupFunction<GetTickCount64Function>(kernel, "GetTickCount64");
    ASSERT_NE(found, nullptr);
    EXPECT_GT(found(), 0u);
    EXPECT_EQ(LookupFunction<GetTickCount64Function>(kernel, "NoSuchFunctionAnywhere"), nullptr);
    EXPECT_EQ(LookupFunction<GetTickCount64Function>(nullptr, "GetTickCount64"), nullptr);
}

} // namespace
} // namespace Velotrix

// The share sheet's interfaces are declared by hand in Share/DataTransfer.h, and the share tests'
// fakes are built from that same header, so a method declared in the wrong place would pass them and
// only fail on Windows, calling another method than meant. Here each method the program calls, and
// the Invoke that Windows calls on the program's handler, is pinned to its vtable slot as the
// platform's interface definitions number it (Windows.ApplicationModel.DataTransfer and
// Windows.Foundation): counted from 0, IUnknown's three first, then IInspectable's three for the
// Windows Runtime interfaces; the desktop interop interface and the handler derive from IUnknown alone.

#include "Share/DataTransfer.h"

#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace Velotrix {
namespace {

// mingw-w64's g++ follows the Itanium C++ ABI: a pointer to a virtual member function holds 1 plus
// the method's byte offset in the vtable, then the adjustment of `this`. So the slot can be read
// without a Windows runtime to call into. -1: not a virtual method of a single base.
template <typename Method>
std::ptrdiff_t SlotOf(Method method) {
    static_assert(sizeof(Method) == 2 * sizeof(std::uintptr_t));
    std::uintptr_t words[2];
    std::memcpy(words, &method, sizeof words);
    if ((words[0] & 1) == 0 || words[1] != 0) return -1;
    return static_cast<std::ptrdiff_t>((words[0] - 1) / sizeof(void*));
}

TEST(ShareSlotTest, EveryMethodCalledSitsInThePlatformsSlot) {
    struct Case {
        const char* method;
        std::ptrdiff_t slot;
        std::ptrdiff_t platformSlot;
    };
    const Case cases[] = {
        {"IDataTransferManagerInterop::GetForWindow", SlotOf(&IDataTransferManagerInterop::GetForWindow), 3},
        {"IDataTransferManagerInterop::ShowShareUIForWindow",
         SlotOf(&IDataTransferManagerInterop::ShowShareUIForWindow), 4},
        {"IDataTransferManager::add_DataRequested", SlotOf(&IDataTransferManager::add_DataRequested), 6},
        {"IDataRequestedEventArgs::get_Request", SlotOf(&IDataRequestedEventArgs::get_Request), 6},
        {"IDataRequest::get_Data", SlotOf(&IDataRequest::get_Data), 6},
        {"IDataPackage::get_Properties", SlotOf(&IDataPackage::get_Properties), 7},
        {"IDataPackage::SetText", SlotOf(&IDataPackage::SetText), 16},
        {"IDataPackage2::SetWebLink", SlotOf(&IDataPackage2::SetWebLink), 7},
        {"IDataPackagePropertySet::put_Title", SlotOf(&IDataPackagePropertySet::put_Title), 7},
        {"IDataPackagePropertySet::put_Description", SlotOf(&IDataPackagePropertySet::put_Description), 9},
        {"IUriRuntimeClassFactory::CreateUri", SlotOf(&IUriRuntimeClassFactory::CreateUri), 6},
        {"IDataRequestedHandler::Invoke", SlotOf(&IDataRequestedHandler::Invoke), 3},
    };
    for (const Case& c : cases) EXPECT_EQ(c.slot, c.platformSlot) << c.method;
}

TEST(ShareSlotTest, HandlerAndManagerAnswerToThePlatformsInterfaceIds) {
    struct Case {
        const char* name;
        GUID declared;
        const wchar_t* platformId;
    };
    // The handler's id is the one Windows derives for TypedEventHandler<DataTransferManager,
    // DataRequestedEventArgs>: a handler answering to another id is never called.
    const Case cases[] = {
        {"IID_DataRequestedHandler", IID_DataRequestedHandler, L"{EC6F9CC8-46D0-5E0E-B4D2-7D7773AE37A0}"},
        {"IID_IDataTransferManager", IID_IDataTransferManager, L"{A5CAEE9B-8708-49D1-8D36-67D25A8DA00C}"},
    };
    for (const Case& c : cases) {
        IID platform{};
        ASSERT_EQ(IIDFromString(c.platformId, &platform), S_OK) << c.name;
        EXPECT_TRUE(IsEqualGUID(c.declared, platform)) << c.name;
    }
}

} // namespace
} // namespace Velotrix

#pragma once

// The Windows Runtime interfaces of the share sheet that mingw-w64's headers lack, declared from
// their documented interface ids and method order. Only the methods the program calls are typed
// precisely; the others keep their slot with a plain pointer type of the same size. The vtable order
// is the ABI: never reorder, insert or drop a method here.

#include <windows.h>
#include <eventtoken.h>
#include <hstring.h>
#include <inspectable.h>

namespace Velotrix {

// {A5CAEE9B-8708-49D1-8D36-67D25A8DA00C}
inline constexpr GUID IID_IDataTransferManager = {
    0xa5caee9b, 0x8708, 0x49d1, {0x8d, 0x36, 0x67, 0xd2, 0x5a, 0x8d, 0xa0, 0x0c}};
// {CB8BA807-6AC5-43C9-8AC5-9BA232163182}
inline constexpr GUID IID_IDataRequestedEventArgs = {
    0xcb8ba807, 0x6ac5, 0x43c9, {0x8a, 0xc5, 0x9b, 0xa2, 0x32, 0x16, 0x31, 0x82}};
// {4341AE3B-FC12-4E53-8C02-AC714C415A27}
inline constexpr GUID IID_IDataRequest = {0x4341ae3b, 0xfc12, 0x4e53, {0x8c, 0x02, 0xac, 0x71, 0x4c, 0x41, 0x5a, 0x27}};
// {61EBF5C7-EFEA-4346-9554-981D7E198FFE}
inline constexpr GUID IID_IDataPackage = {0x61ebf5c7, 0xefea, 0x4346, {0x95, 0x54, 0x98, 0x1d, 0x7e, 0x19, 0x8f, 0xfe}};
// {041C1FE9-2409-45E1-A538-4C53EEEE04A7}
inline constexpr GUID IID_IDataPackage2 = {
    0x041c1fe9, 0x2409, 0x45e1, {0xa5, 0x38, 0x4c, 0x53, 0xee, 0xee, 0x04, 0xa7}};
// {CD1C93EB-4C4C-443A-A8D3-F5C241E91689}
inline constexpr GUID IID_IDataPackagePropertySet = {
    0xcd1c93eb, 0x4c4c, 0x443a, {0xa8, 0xd3, 0xf5, 0xc2, 0x41, 0xe9, 0x16, 0x89}};
// TypedEventHandler<DataTransferManager, DataRequestedEventArgs>: the id Windows derives from the
// parameterised type's signature. {EC6F9CC8-46D0-5E0E-B4D2-7D7773AE37A0}
inline constexpr GUID IID_DataRequestedHandler = {
    0xec6f9cc8, 0x46d0, 0x5e0e, {0xb4, 0xd2, 0x7d, 0x77, 0x73, 0xae, 0x37, 0xa0}};
// Windows.Foundation.Uri's factory. {44A9796F-723E-4FDF-A218-033E75B0C084}
inline constexpr GUID IID_IUriRuntimeClassFactory = {
    0x44a9796f, 0x723e, 0x4fdf, {0xa2, 0x18, 0x03, 0x3e, 0x75, 0xb0, 0xc0, 0x84}};
// {94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90}: a handler that says it is agile is called directly, on any
// thread, instead of through a proxy that a desktop program has no registration for.
inline constexpr GUID IID_AgileObject = {0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};

inline constexpr wchar_t DataTransferManagerClass[] = L"Windows.ApplicationModel.DataTransfer.DataTransferManager";
inline constexpr wchar_t UriClass[] = L"Windows.Foundation.Uri";

struct IDataTransferManager;
struct IDataRequestedEventArgs;
struct IDataRequest;
struct IDataPackage;
struct IDataPackagePropertySet;

// Windows.Foundation.Uri; the program only makes one and hands it on.
struct IUriRuntimeClass : IInspectable {};

struct IUriRuntimeClassFactory : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateUri(HSTRING uri, IUriRuntimeClass** instance) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateWithRelativeUri(HSTRING baseUri, HSTRING relativeUri,
                                                            IUriRuntimeClass** instance) = 0;
};

// The DataRequested event's delegate. A delegate is a plain IUnknown with Invoke, not IInspectable.
struct IDataRequestedHandler : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IDataTransferManager* sender, IDataRequestedEventArgs* args) = 0;
};

struct IDataTransferManager : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE add_DataRequested(IDataRequestedHandler* handler,
                                                        EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_DataRequested(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_TargetApplicationChosen(IUnknown* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_TargetApplicationChosen(EventRegistrationToken token) = 0;
};

struct IDataRequestedEventArgs : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Request(IDataRequest** value) = 0;
};

struct IDataRequest : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Data(IDataPackage** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Data(IDataPackage* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Deadline(INT64* value) = 0; // Windows.Foundation.DateTime
    virtual HRESULT STDMETHODCALLTYPE FailWithDisplayText(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeferral(IInspectable** value) = 0;
};

struct IDataPackage : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetView(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Properties(IDataPackagePropertySet** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RequestedOperation(UINT32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RequestedOperation(UINT32 value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_OperationCompleted(IUnknown* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_OperationCompleted(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Destroyed(IUnknown* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Destroyed(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetData(HSTRING formatId, IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDataProvider(HSTRING formatId, IUnknown* delayRenderer) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetText(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUri(IUriRuntimeClass* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHtmlFormat(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResourceMap(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRtf(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBitmap(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStorageItemsReadOnly(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStorageItems(IInspectable* value, boolean readOnly) = 0;
};

struct IDataPackage2 : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE SetApplicationLink(IUriRuntimeClass* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWebLink(IUriRuntimeClass* value) = 0;
};

struct IDataPackagePropertySet : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Title(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Title(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Description(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Description(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Thumbnail(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Thumbnail(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FileTypes(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ApplicationName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ApplicationName(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ApplicationListingUri(IUriRuntimeClass** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ApplicationListingUri(IUriRuntimeClass* value) = 0;
};

} // namespace Velotrix

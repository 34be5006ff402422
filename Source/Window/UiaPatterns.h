#pragma once

// What UI Automation's providers need and mingw-w64's headers lack: the Invoke and Toggle pattern
// interfaces, declared from their documented interface ids and method order, and the ids of the
// objects, errors, events, control types and states used here, at their documented values. Windows only.

#include <windows.h>
#include <ole2.h>
// Not <uiautomation.h>: mingw-w64's uiautomationcoreapi.h names a parameter `new` and is no C++.
#include <uiautomationclient.h>
#include <uiautomationcore.h>

namespace Velotrix {

inline constexpr LONG UiaRootObject = -25;                                          // UiaRootObjectId
inline constexpr int UiaAppendRuntime = 3;                                          // UiaAppendRuntimeId
inline constexpr HRESULT UiaElementNotAvailable = static_cast<HRESULT>(0x80040201); // UIA_E_ELEMENTNOTAVAILABLE
inline constexpr HRESULT UiaInvalidOperation = static_cast<HRESULT>(0x80131509);    // UIA_E_INVALIDOPERATION
inline constexpr EVENTID UiaFocusChangedEvent = 20005;                              // UIA_AutomationFocusChangedEventId
inline constexpr EVENTID UiaSystemAlertEvent = 20023;                               // UIA_SystemAlertEventId
inline constexpr int UiaButtonControlType = 50000;                                  // UIA_ButtonControlTypeId
inline constexpr int UiaCheckBoxControlType = 50002;                                // UIA_CheckBoxControlTypeId
inline constexpr int UiaHyperlinkControlType = 50005;                               // UIA_HyperlinkControlTypeId
inline constexpr int UiaTextControlType = 50020;                                    // UIA_TextControlTypeId
inline constexpr int UiaGroupControlType = 50026;                                   // UIA_GroupControlTypeId
inline constexpr int UiaChildrenInvalidated = 2;      // StructureChangeType_ChildrenInvalidated
inline constexpr int UiaNotificationItemAdded = 0;    // NotificationKind_ItemAdded
inline constexpr int UiaNotificationImportantAll = 0; // NotificationProcessing_ImportantAll
inline constexpr int UiaToggleOff = 0;                // ToggleState_Off
inline constexpr int UiaToggleOn = 1;                 // ToggleState_On

} // namespace Velotrix

// Global, as the SDK declares them, so that __uuidof finds them by the same names.
MIDL_INTERFACE("54fcb24b-e18e-47a2-b4d3-eccbe77599a2")
IInvokeProvider : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};
__CRT_UUID_DECL(IInvokeProvider, 0x54fcb24b, 0xe18e, 0x47a2, 0xb4, 0xd3, 0xec, 0xcb, 0xe7, 0x75, 0x99, 0xa2)

MIDL_INTERFACE("56d00bd0-c4f4-433c-a836-1a52a57e0892")
IToggleProvider : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE Toggle() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ToggleState(int* state) = 0; // a ToggleState
};
__CRT_UUID_DECL(IToggleProvider, 0x56d00bd0, 0xc4f4, 0x433c, 0xa8, 0x36, 0x1a, 0x52, 0xa5, 0x7e, 0x08, 0x92)

#pragma once

// COM for the calling thread while this lives, in the apartment kind it is made with. Windows only.

#include <windows.h>
#include <objbase.h>

namespace Velotrix {

class ComApartment {
public:
    explicit ComApartment(DWORD model) : result(CoInitializeEx(nullptr, model)) {}
    // S_FALSE (the thread had COM already) still owes its CoUninitialize; a thread already in the other
    // apartment kind gets RPC_E_CHANGED_MODE, owes nothing, and must not uninitialise the other owner's.
    ~ComApartment() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // False when COM could not be had in this kind; the thread may still be in the other.
    bool Ready() const { return SUCCEEDED(result); }

private:
    HRESULT result;
};

} // namespace Velotrix

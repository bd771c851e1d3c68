#include "platform/com_apartment.h"

#include <objbase.h>
#include <windows.h>

namespace NorvOS {

// S_FALSE (already initialised on this thread) counts too and is balanced
// like S_OK; a thread in another apartment model is left as it is.
CComApartment::CComApartment() : initialised_(SUCCEEDED(::CoInitialize(nullptr))) {}

CComApartment::~CComApartment() {
    if (initialised_) {
        ::CoUninitialize();
    }
}

} // namespace NorvOS

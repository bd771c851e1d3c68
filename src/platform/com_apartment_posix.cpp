#include "platform/com_apartment.h"

namespace NorvOS {

CComApartment::CComApartment() : initialised_(true) {}

CComApartment::~CComApartment() = default;

} // namespace NorvOS

// COM on the calling thread for the lifetime of the object: initialised on
// Windows (single-threaded apartment), nothing on other systems.
#pragma once

namespace NorvOS {

class CComApartment {
public:
    CComApartment();
    /// Uninitialises COM when the constructor initialised it.
    ~CComApartment();
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;

    /// True when COM is usable on this thread (always true without COM).
    bool Initialised() const { return initialised_; }

private:
    bool initialised_;
};

} // namespace NorvOS

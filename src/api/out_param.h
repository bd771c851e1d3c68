// Writing results through a caller's out-pointers.
#pragma once

#include "norv/enums.h"

namespace nvt {

template <class T> struct OutValue { using type = T; };

/// Writes value through out. Returns InvalidArgument, writing nothing, when
/// out is null; otherwise SUCCESS. The out-pointer alone decides the type.
template <class T> Result WriteOut(T* out, const typename OutValue<T>::type& value) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    *out = value;
    return SUCCESS;
}

/// Writes two values; InvalidArgument, writing nothing, when either
/// out-pointer is null.
template <class T>
Result WriteOutPair(T* first, T* second, const typename OutValue<T>::type& firstValue,
                    const typename OutValue<T>::type& secondValue) {
    if (first == nullptr || second == nullptr) {
        return InvalidArgument;
    }
    *first = firstValue;
    *second = secondValue;
    return SUCCESS;
}

} // namespace nvt

// No exception may leave an exported function: every export runs its body through Guarded.
#pragma once

#include <type_traits>

namespace d2u {

template <class Body>
std::invoke_result_t<Body> Guarded(std::invoke_result_t<Body> onException, Body&& body) {
    try {
        return body();
    } catch (...) {
        return onException;
    }
}

}  // namespace d2u

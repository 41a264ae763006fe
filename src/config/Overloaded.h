#pragma once
// One visitor out of several lambdas, for std::visit over a variant whose
// alternatives each want their own handling.

namespace parking {

template <typename... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

} // namespace parking

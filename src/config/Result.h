#pragma once
// The result of something that is expected to fail now and then (reading
// a file people edit, a port text, a card's bits, a script): the value, or
// the reason it could not be had. Shaped like C++23's std::expected, which
// the compiler of Debian 12 does not have yet: has_value(), operator bool,
// value(), operator*, operator->, error(); a failure is made with
// failure(reason). Faults of the database and of devices are exceptions
// instead, caught by the handler that started the work.
#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace parking {

template <typename E>
struct Failure {
    E reason;
};

inline Failure<QString> failure(QString reason)
{
    return {std::move(reason)};
}

template <typename E>
Failure<E> failureOf(E reason)
{
    return {std::move(reason)};
}

template <typename T, typename E = QString>
class [[nodiscard]] Result {
public:
    Result(const T& value) : v_(std::in_place_index<0>, value) {}
    Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}
    template <typename F>
    Result(Failure<F> f) : v_(std::in_place_index<1>, E(std::move(f.reason)))
    {
    }

    bool has_value() const { return v_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Only for a failure.
    const E& error() const { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

// Something that either works or says why not.
template <typename E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    template <typename F>
    Result(Failure<F> f) : error_(E(std::move(f.reason)))
    {
    }

    bool has_value() const { return !error_.has_value(); }
    explicit operator bool() const { return has_value(); }
    // Only for a failure.
    const E& error() const { return *error_; }

private:
    std::optional<E> error_;
};

} // namespace parking

#pragma once

#include <utility>
#include <variant>

namespace quill {

/// Wraps an error so that a Result can be built from it unambiguously, even when the value and
/// error types could convert into each other.
template <typename E>
struct Failure {
    E error;
};

template <typename E>
Failure(E) -> Failure<E>;

/**
 * @brief The outcome of an operation that can fail with a typed error: either a value or an error.
 *
 * Commands and network calls return it instead of throwing, so that no exception ever crosses the
 * Qt event loop or a coroutine boundary.
 */
template <typename T, typename E>
class Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    template <typename F>
    Result(Failure<F> failure) : m_state(std::in_place_index<1>, E(std::move(failure.error))) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    /// The value; only valid when ok().
    const T &value() const & { return std::get<0>(m_state); }
    T &value() & { return std::get<0>(m_state); }
    T &&value() && { return std::get<0>(std::move(m_state)); }

    /// The error; only valid when !ok().
    const E &error() const { return std::get<1>(m_state); }

private:
    std::variant<T, E> m_state;
};

/// A Result that carries no value on success.
template <typename E>
class Result<void, E> {
public:
    Result() = default;
    template <typename F>
    Result(Failure<F> failure) : m_state(std::in_place_index<1>, E(std::move(failure.error))) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    /// The error; only valid when !ok().
    const E &error() const { return std::get<1>(m_state); }

private:
    std::variant<std::monostate, E> m_state;
};

} // namespace quill

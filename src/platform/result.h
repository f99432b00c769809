#pragma once

#include <type_traits>
#include <utility>
#include <variant>

// The error side of a Result, so a Result<T, E> can be made from an E even when T and E are the
// same type: `return Failure(error);`.
template <class E> struct Failure
{
    explicit Failure(E e) : error(std::move(e)) {}
    E error;
};

// A value, or the error that kept it from being made (asking a Result for the side it does not
// hold throws std::bad_variant_access). Fallible steps outside the window's
// numbered statements report this way: no exception, no out-parameter, no text to search.
template <class T, class E> class [[nodiscard]] Result
{
public:
    Result(const T &value) : m_state(std::in_place_index<0>, value) {}
    Result(T &&value) : m_state(std::in_place_index<0>, std::move(value)) {}
    template <class G, class = std::enable_if_t<std::is_constructible_v<E, G>>>
    Result(Failure<G> failure) : m_state(std::in_place_index<1>, std::move(failure.error))
    {
    }

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<0>(m_state); }
    T &value() & { return std::get<0>(m_state); }
    T &&value() && { return std::get<0>(std::move(m_state)); }
    const T &operator*() const & { return value(); }
    const T *operator->() const { return &value(); }

    const E &error() const { return std::get<1>(m_state); }

private:
    std::variant<T, E> m_state;
};

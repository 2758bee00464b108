// Reading through absent objects.
//
// In the host's model any accessor applied to an absent object yields absent,
// 0 or false. Maybe<T> is a non-owning, nullable view that gives C++ that
// rule, so that a chain of reads is one expression and an absent link ends the
// chain instead of crashing:
//
//   auto components = px::maybe(packet)
//                         .then(&PXSCCP_Packet::incomingTcapBegin)
//                         .then(&PXTCAP_itu_asn1_begin::componentPortion)
//                         .then(&PXTCAP_itu_asn1_componentPortion::arrayOfComponents);
//
// A member that returns a pointer (or a reference to a shared_ptr held by the
// object) continues the chain; any other member ends it, giving its result or
// a value-initialised one (0, false, empty span, nullopt) when a link is absent.
#pragma once

#include <memory>
#include <optional>
#include <type_traits>

namespace px {

template <class T>
class Maybe;

namespace detail {
template <class R>
struct is_shared_ptr : std::false_type {};
template <class U>
struct is_shared_ptr<std::shared_ptr<U>> : std::true_type {};
}  // namespace detail

template <class T>
class Maybe {
 public:
  constexpr Maybe() = default;
  constexpr Maybe(const T* p) : _p(p) {}

  constexpr const T* get() const { return _p; }
  constexpr explicit operator bool() const { return _p != nullptr; }
  constexpr const T* operator->() const { return _p; }

  // Always inlined: screening reads packets through these chains for every
  // message, and only inlined does the member pointer become a direct call.
  template <class R, class C>
    requires std::is_base_of_v<C, T>
  [[gnu::always_inline]] constexpr auto then(R (C::*member)() const) const {
    using Plain = std::remove_cvref_t<R>;
    if constexpr (std::is_pointer_v<Plain>) {
      return Maybe<std::remove_cv_t<std::remove_pointer_t<Plain>>>(_p ? (_p->*member)() : nullptr);
    } else if constexpr (detail::is_shared_ptr<Plain>::value) {
      // Only a reference to a pointer the object holds keeps the pointee alive.
      static_assert(std::is_reference_v<R>, "a chained shared_ptr must be returned by reference");
      return Maybe<std::remove_cv_t<typename Plain::element_type>>(_p ? (_p->*member)().get()
                                                                      : nullptr);
    } else {
      return _p ? Plain((_p->*member)()) : Plain{};
    }
  }

 private:
  const T* _p = nullptr;
};

template <class T>
constexpr Maybe<T> maybe(const T* p) {
  return Maybe<T>(p);
}
template <class T>
Maybe<T> maybe(const std::shared_ptr<T>& p) {
  return Maybe<T>(p.get());
}
template <class T>
constexpr Maybe<T> maybe(const std::optional<T>& o) {
  return Maybe<T>(o ? &*o : nullptr);
}

}  // namespace px

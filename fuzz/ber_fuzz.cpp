#include "FuzzChecks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  std::size_t consumed = 0;
  px::ber::BerError error = px::ber::BerError::none;
  if (const auto e = px::ber::readElement(input, consumed, &error)) {
    fuzzcheck::require(consumed > 0 && consumed <= size);
    fuzzcheck::inside(e->contents(), input);
    if (!e->isIndefiniteLength())
      fuzzcheck::require(e->contents().data() + e->contents().size() == data + consumed);
  } else {
    fuzzcheck::require(error != px::ber::BerError::none);
    (void)px::ber::berErrorName(error);
  }
  fuzzcheck::walk(input, input);
  (void)px::ber::decodeInteger(input);
  (void)px::ber::objectIdentifierLastArc(input);
  return 0;
}

#include "FuzzChecks.hpp"

// The input as a whole parameter, and as the contents of an argument SEQUENCE
// (how a lenient parameter could reach the decoder).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  std::size_t consumed = 0;
  if (const auto param = px::ber::readElement(input, consumed)) fuzzcheck::forwardSM(&*param);
  const PXASN1Object sequence(PXASN1TagClass::universal, true, 16, input);
  fuzzcheck::forwardSM(&sequence);
  return 0;
}

#include "FuzzChecks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static PXTCAP_itu_asn1_message message;
  const std::span<const std::uint8_t> input(data, size);
  if (message.decode(input)) {
    fuzzcheck::tcap(message, input);
  } else {
    fuzzcheck::require(message.componentPortion() == nullptr);
  }
  return 0;
}

// Decodings compared with TShark's, through data files written once by
// tools/tshark_expectations.py (see the header of each file).
#include <gtest/gtest.h>

#include "DecoderTestSupport.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

using namespace dectest;

std::string typeName(const PXTCAP_itu_asn1_message* m) {
  return m ? std::string(px::messageTypeName(m->messageType())) : "none";
}

enum Column { kName, kHex, kCalled, kCalling, kTcap, kMalformed, kComponents, kForwardSM };

void expectSccpRowsDecodeAsTshark(const std::string& file, std::size_t count) {
  const auto rows = readTsv(file);
  ASSERT_EQ(rows.size(), count);
  PXSCCP_Packet packet;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 8u);
    SCOPED_TRACE(row[kName]);
    const Bytes bytes = hex(row[kHex]);
    EXPECT_EQ(packet.decode(bytes), px::SccpDecodeError::none);
    EXPECT_EQ(dump(packet.incomingCalledPartyAddress()), row[kCalled]);
    EXPECT_EQ(dump(packet.incomingCallingPartyAddress()), row[kCalling]);
    const auto* tcap = packet.tcapMessage();
    EXPECT_EQ(typeName(tcap), row[kTcap]);
    EXPECT_EQ(packet.incomingTcapBegin() != nullptr, row[kTcap] == "begin");
    if (tcap && row[kMalformed] == "0") {
      EXPECT_FALSE(tcap->isDamaged());
    }
    EXPECT_EQ(dumpComponents(tcap), row[kComponents]);
    EXPECT_EQ(dumpForwardSM(tcap), row[kForwardSM]);
  }
}

// Hand-built: every message type, address form and TCAP component form.
TEST(wire_vectors, sccp_messages_read_as_tshark_reads_them) {
  expectSccpRowsDecodeAsTshark("wire-vectors.tsv", 46);
}

// The SCCP messages of a capture of public samples (real TCAP, UDT and LUDT).
TEST(wire_vectors, public_capture_reads_as_tshark_reads_it) {
  expectSccpRowsDecodeAsTshark("public-sccp-expected.tsv", 60);
}

TEST(wire_vectors, public_tcap_samples_decode_like_tshark) {
  const auto rows = readTsv("public-tcap-expected.tsv");
  ASSERT_EQ(rows.size(), 60u);
  PXTCAP_itu_asn1_message m;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 8u);
    SCOPED_TRACE(row[kName]);
    const Bytes bytes = hex(row[kHex]);
    const bool decoded = m.decode(bytes);
    if (row[kTcap] == "none") {
      EXPECT_FALSE(decoded);
      continue;
    }
    ASSERT_TRUE(decoded);
    EXPECT_EQ(typeName(&m), row[kTcap]);
    if (row[kMalformed] == "0") {
      EXPECT_FALSE(m.isDamaged());
    }
    EXPECT_EQ(dumpComponents(&m), row[kComponents]);
    EXPECT_EQ(dumpForwardSM(&m), row[kForwardSM]);
  }
}

}  // namespace

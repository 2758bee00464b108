// The `screen` and `decode` commands: read captures, find SCCP messages,
// decode (and screen) each, write records and a summary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Direction.hpp"
#include "Sctp.hpp"
#include "px/sccp/SccpReassembly.hpp"

namespace qs {

enum class Format : std::uint8_t { text, jsonl };
enum class Colour : std::uint8_t { automatic, always, never };
enum class SummaryFormat : std::uint8_t { text, json };

// --only: which records to write. Bits by verdict, plus undecodable messages.
struct Selection {
  std::uint32_t bits = ~0u;
  static std::optional<Selection> parse(const std::vector<std::string>& names, std::string& bad);
  // `outbound`: a message not screened because it leaves the home network.
  bool selects(bool screened, std::int32_t verdict, bool damaged, bool outbound = false) const;
};
// Every name Selection::parse accepts, for completion.
std::vector<std::string> selectionWords();

struct RunOptions {
  std::vector<std::string> captures;
  Format format = Format::text;
  bool hex = false;  // read inputs that are not captures as hex text
  Colour colour = Colour::automatic;
  SummaryFormat summaryFormat = SummaryFormat::text;
  std::string summaryFile;  // empty: standard error
  unsigned prefixDigits = 5;
  // Live capture instead of files.
  std::string interface;
  std::string bpf;
  bool promiscuous = false;
  // screen only
  std::string config;
  std::string plugin;  // empty: next to the executable
  bool explain = false;
  Selection only;
  // --home-pc, --home-ip, --home-gt: which messages are inbound.
  HomeNetwork home;
  std::string write;  // capture of the selected frames
  // Threads that decode and screen (0: one per core); 1 runs everything on
  // the calling thread.
  unsigned threads = 0;
  ReassemblyLimits limits;
  px::SccpReassemblyLimits segmentLimits;
};

// `diff`: two rule sets over the same messages.
struct DiffOptions {
  RunOptions run;  // captures, format, plug-in, --hex, ...; config unused
  std::string oldConfig;
  std::string newConfig;
};

// Both return the exit status: 0 done, 1 done with warnings (damaged input),
// 2 nothing done (an input could not be used; one line on stderr says why).
int runScreen(const RunOptions& options);
int runDecode(const RunOptions& options);
// 0: no verdict changed, 1: some did, 2: nothing done.
int runDiff(const DiffOptions& options);

// Whether to colour verdicts on standard output: --color, else a terminal
// and NO_COLOR absent or empty.
bool useColour(Colour c);

}  // namespace qs

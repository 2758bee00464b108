// `diff`: every message screened by two filters, one per rule set, and only
// the messages whose verdict differs written out.
#include <fmt/format.h>

#include <iterator>
#include <map>
#include <utility>

#include "ConfigRules.hpp"
#include "OneLine.hpp"
#include "Records.hpp"
#include "Run.hpp"
#include "RunParts.hpp"
#include "Summary.hpp"
#include "px/Config.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace qs {

void Comparison::merge(const Comparison& other) {
  compared += other.compared;
  for (const auto& [pair, count] : other.pairs) pairs[pair] += count;
  changed.merge(other.changed);
}

std::uint64_t Comparison::changedCount() const {
  std::uint64_t n = 0;
  for (const auto& [pair, count] : pairs) n += count;
  return n;
}

std::string Comparison::summary(const ExtractorCounts& c, double seconds) const {
  std::string s;
  auto it = std::back_inserter(s);
  fmt::format_to(it,
                 "qel-screen diff: {} frames, {} SCCP messages, {} screened by both, {} "
                 "changed in {:.3f} s\n",
                 c.frames, c.messages, compared, changedCount(), seconds);
  for (const auto& [pair, count] : pairs)
    fmt::format_to(it, "  {:<19} -> {:<19} {:>9}\n", px::verdictName(pair.first),
                   px::verdictName(pair.second), count);
  s += changed.topText("changed", false);
  return s;
}

std::string Comparison::summaryJson(const ExtractorCounts& c, double seconds) const {
  std::string s;
  auto it = std::back_inserter(s);
  fmt::format_to(it, "{{\"frames\":{},\"messages\":{},\"compared\":{},\"changed\":{},\"pairs\":[",
                 c.frames, c.messages, compared, changedCount());
  bool first = true;
  for (const auto& [pair, count] : pairs) {
    fmt::format_to(it, "{}{{\"old\":\"{}\",\"new\":\"{}\",\"count\":{}}}", first ? "" : ",",
                   px::verdictName(pair.first), px::verdictName(pair.second), count);
    first = false;
  }
  s += "],\"changed_by\":{";
  changed.appendJson(s);
  fmt::format_to(it, "}},\"elapsed_s\":{:.6f}}}\n", seconds);
  return s;
}

std::shared_ptr<PXPlugin> loadSecondFilter(LoadedPlugin& plugin, const std::string& path,
                                           const std::string& configFile,
                                           PXMTP3SCCPScreeningPluginProtocol*& filter) {
  // The second rule set gets a filter of its own, as a host running two
  // configurations would have.
  auto second = plugin.createAnother();
  filter = dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(second.get());
  if (!filter) {
    printError(fmt::format("{}: plugin_create gave no second filter", path));
    return nullptr;
  }
  PXConfig config(configFile);
  config.allowSingleGroup(qel::kScreeningGroup);
  if (auto r = config.read(); !r.ok()) {
    printError(r.message);
    return nullptr;
  }
  filter->loadConfigFromFile(configFile);
  return second;
}

int runDiff(const DiffOptions& options) {
  return run(options.run, true, &options);
}

}  // namespace qs

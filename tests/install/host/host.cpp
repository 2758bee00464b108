// A signalling node's view of the plug-in: only the installed headers and
// libpxhost, the module opened with dlopen. Every filter operation is reached
// through the interfaces; any mismatch is printed and fails the run.
//
// usage: installed-host PLUGIN CONFIG PACKET-FILE EXPECTED-VERDICT
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "px/PluginEntryPoints.hpp"
#include "px/ScreeningFilter.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

int failures = 0;

void expect(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    ++failures;
  }
}

using ListGetter = PXListRef (PXSccpScreeningFilter::*)() const;
using ListSetter = void (PXSccpScreeningFilter::*)(PXListRef);
using FlagGetter = std::uint8_t (PXSccpScreeningFilter::*)() const;
using FlagSetter = void (PXSccpScreeningFilter::*)(std::uint8_t);

struct ListField {
  const char* name;
  ListGetter get;
  ListSetter set;
};
struct FlagField {
  const char* name;
  FlagGetter get;
  FlagSetter set;
};

#define LIST(n, s) \
  { #n, &PXSccpScreeningFilter::n, &PXSccpScreeningFilter::s }
const ListField kLists[] = {
    LIST(allowedCallingSccpPrefixE164, setAllowedCallingSccpPrefixE164),
    LIST(allowedCallingSccpPrefixE212, setAllowedCallingSccpPrefixE212),
    LIST(allowedCallingSccpPrefixE214, setAllowedCallingSccpPrefixE214),
    LIST(allowedCalledSccpPrefixE164, setAllowedCalledSccpPrefixE164),
    LIST(allowedCalledSccpPrefixE212, setAllowedCalledSccpPrefixE212),
    LIST(allowedCalledSccpPrefixE214, setAllowedCalledSccpPrefixE214),
    LIST(deniedCallingSccpPrefixE164, setDeniedCallingSccpPrefixE164),
    LIST(deniedCallingSccpPrefixE212, setDeniedCallingSccpPrefixE212),
    LIST(deniedCallingSccpPrefixE214, setDeniedCallingSccpPrefixE214),
    LIST(deniedCalledSccpPrefixE164, setDeniedCalledSccpPrefixE164),
    LIST(deniedCalledSccpPrefixE212, setDeniedCalledSccpPrefixE212),
    LIST(deniedCalledSccpPrefixE214, setDeniedCalledSccpPrefixE214),
    LIST(allowedTT, setAllowedTT),
    LIST(deniedTT, setDeniedTT),
    LIST(allowedOP, setAllowedOP),
    LIST(deniedOP, setDeniedOP),
    LIST(allowedGOP, setAllowedGOP),
    LIST(deniedGOP, setDeniedGOP),
    LIST(allowedFSM_IMSI_PREFIX, setAllowedFSM_IMSI_PREFIX),
    LIST(deniedFSM_IMSI_PREFIX, setDeniedFSM_IMSI_PREFIX),
};
#undef LIST
#define FLAG(n, s) \
  { #n, &PXSccpScreeningFilter::n, &PXSccpScreeningFilter::s }
const FlagField kFlags[] = {
    FLAG(defaultAllowCalling, setDefaultAllowCalling),
    FLAG(defaultDenyCalling, setDefaultDenyCalling),
    FLAG(defaultAllowCalled, setDefaultAllowCalled),
    FLAG(defaultDenyCalled, setDefaultDenyCalled),
    FLAG(defaultAllowTT, setDefaultAllowTT),
    FLAG(defaultDenyTT, setDefaultDenyTT),
};
#undef FLAG

template <class Fn>
Fn* entry(void* module, const char* name) {
  auto* fn = reinterpret_cast<Fn*>(dlsym(module, name));
  expect(fn != nullptr, std::string("entry point ") + name);
  return fn;
}

// Accessors on a fresh filter: absent and false at first, then the very
// list that was stored, absent again when absent is stored, bytes unchanged.
void checkAccessors(PXSccpScreeningFilter& f) {
  for (const auto& field : kLists) {
    const std::string name = field.name;
    expect((f.*field.get)() == nullptr, name + " is absent on a new filter");
    auto list = px::makeList({"4179", 46});
    (f.*field.set)(list);
    expect((f.*field.get)() == list, name + " returns the very list stored");
    (f.*field.set)(nullptr);
    expect((f.*field.get)() == nullptr, name + " is absent after storing absent");
  }
  for (const auto& field : kFlags) {
    const std::string name = field.name;
    expect((f.*field.get)() == 0, name + " is false on a new filter");
    (f.*field.set)(2);
    expect((f.*field.get)() == 2, name + " keeps the byte 2");
    (f.*field.set)(0);
  }
}

void checkConstantOperations(PXSccpScreeningFilter& f, const PXSCCP_Packet* packet) {
  expect(f.filterName() == "qel-screening-sccp", "filterName");
  expect(f.filterDescription() == "QEL SCCP Screening Filter", "filterDescription");
  auto before = std::make_shared<const PXError>("host", 7, nullptr);
  for (const PXSCCP_Packet* p : {packet, static_cast<const PXSCCP_Packet*>(nullptr)}) {
    PXErrorRef err = before;
    expect(f.screenSccpPacketOutbound(p, &err) == PXSccpScreening_undefined, "outbound hook");
    expect(f.screenSccpPacketInboundGsmmap(p, &err) == PXSccpScreening_undefined, "gsmmap hook");
    expect(f.screenSccpPacketInboundTcap(p, &err) == PXSccpScreening_undefined, "tcap hook");
    expect(err == before, "the hooks leave the error place as it was");
  }
  const auto list = px::makeList({"2841", 46});
  expect(f.screenNumber("28411", list, PXSccpScreening_explicitlyDenied) ==
             PXSccpScreening_explicitlyDenied,
         "screenNumber hits a prefix");
  expect(f.screenNumber(std::nullopt, list, PXSccpScreening_explicitlyDenied) ==
             PXSccpScreening_undefined,
         "screenNumber of absent digits");
  expect(f.screenTT(46, list, PXSccpScreening_explicitlyPermitted) ==
             PXSccpScreening_explicitlyPermitted,
         "screenTT hits a number");
  expect(f.screenFSM("2841001", list, PXSccpScreening_explicitlyPermitted) ==
             PXSccpScreening_explicitlyPermitted,
         "screenFSM hits a prefix");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: installed-host PLUGIN CONFIG PACKET-FILE EXPECTED-VERDICT\n");
    return 2;
  }
  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  auto* name = entry<px::plugin_name_fn>(module, "plugin_name");
  auto* init = entry<px::plugin_init_fn>(module, "plugin_init");
  auto* exit = entry<px::plugin_exit_fn>(module, "plugin_exit");
  auto* create = entry<px::plugin_create_fn>(module, "plugin_create");
  auto* info = entry<px::plugin_info_fn>(module, "plugin_info");
  if (failures) return 1;
  expect(std::string(name()) == "qel-screening-sccp", "plugin_name");
  auto dict = px::adoptDictionary(info());
  const PXValue* version = dict ? dict->find("version") : nullptr;
  expect(version && version->text() && *version->text() == "2.0.0", "plugin_info version");
  expect(init(nullptr) == 0, "plugin_init");

  std::ifstream in(argv[3], std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  PXSCCP_Packet packet;
  expect(!bytes.empty() && packet.decode(bytes) == px::SccpDecodeError::none,
         std::string("decoding ") + argv[3]);
  {
    auto plugin = px::adoptPlugin(create());
    auto* filter = dynamic_cast<PXSccpScreeningFilter*>(plugin.get());
    auto* protocol = dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(plugin.get());
    expect(filter && protocol, "the filter implements both interfaces");
    if (filter && protocol) {
      checkAccessors(*filter);
      checkConstantOperations(*filter, &packet);
      protocol->loadConfigFromFile(argv[2]);
      expect(filter->deniedOP() != nullptr, "the configuration filled deniedOP");
      PXErrorRef err;
      const auto verdict = protocol->screenSccpPacketInbound(&packet, &err);
      expect(px::verdictName(verdict) == argv[4], std::string("verdict ") +
                                                      std::string(px::verdictName(verdict)) +
                                                      ", expected " + argv[4]);
      protocol->close();
    }
  }
  expect(exit() == 0, "plugin_exit");
  dlclose(module);
  if (failures) return 1;
  std::printf("installed host: all operations reached\n");
  return 0;
}

// The plug-in base and the SCCP screening interface the host calls.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "px/Error.hpp"
#include "px/ScreeningResult.hpp"
#include "px/Value.hpp"

class PXSCCP_Packet;

// Base of every plug-in object. The host reads the configuration group the
// plug-in last loaded through config().
class PXPlugin {
 public:
  PXPlugin() = default;
  PXPlugin(const PXPlugin&) = delete;
  PXPlugin& operator=(const PXPlugin&) = delete;
  virtual ~PXPlugin();

  // Base initialisation; a plug-in that gets false must not be handed out.
  virtual bool init();

  PXDictionaryRef config() const { return _config.load(std::memory_order_acquire); }
  void setConfig(PXDictionaryRef group) {
    _config.store(std::move(group), std::memory_order_release);
  }

 protected:
  // The configuration group as last read; absent until a plug-in sets it.
  //
  // libstdc++ implements this atomic with a lock (a spin bit in the pointer,
  // then a futex wait). That is acceptable here: only a load (setConfig) and
  // the host's config() take it, each for a pointer swap or one reference-count
  // increment, with no allocation, I/O or other lock inside; no screening
  // touches it. A lock-free publication would need the plug-in's hazard slots
  // in the host, for a field read a few times per reload.
  std::atomic<PXDictionaryRef> _config;
};

// What the host calls on an SCCP screening plug-in.
class PXMTP3SCCPScreeningPluginProtocol {
 public:
  virtual ~PXMTP3SCCPScreeningPluginProtocol();

  // `packet` is borrowed for the call and may be null; `err` is a place where
  // an error could be stored, possibly null.
  virtual PXSccpScreening_result screenSccpPacketInbound(const PXSCCP_Packet* packet,
                                                         PXErrorRef* err) = 0;
  virtual PXErrorRef loadConfigFromFile(const std::string& fileName) = 0;
  virtual PXErrorRef reloadConfig() = 0;
  virtual void close() = 0;
};

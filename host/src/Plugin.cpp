// Out-of-line key functions: the type information of these classes lives in
// this library only, so dynamic_cast works across the host and its plug-ins.
#include "px/Plugin.hpp"

#include "px/Error.hpp"
#include "px/ScreeningFilter.hpp"
#include "px/ScreeningTrace.hpp"

PXPlugin::~PXPlugin() = default;
bool PXPlugin::init() { return true; }

PXMTP3SCCPScreeningPluginProtocol::~PXMTP3SCCPScreeningPluginProtocol() = default;
PXSccpScreeningExplainer::~PXSccpScreeningExplainer() = default;
PXSccpScreeningFilter::~PXSccpScreeningFilter() = default;

PXError::~PXError() = default;

const PXDictionary& PXError::userInfo() const {
  static const PXDictionary kEmpty;
  return _userInfo ? *_userInfo : kEmpty;
}

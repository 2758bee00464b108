#include "OperationNames.hpp"

#include <array>

namespace qs {

namespace {

struct Named {
  std::uint8_t code;
  std::string_view name;
};

// 3GPP TS 29.002, MAP-Protocol: the operation codes of the current releases.
constexpr Named kOperations[] = {
    {2, "updateLocation"},
    {3, "cancelLocation"},
    {4, "provideRoamingNumber"},
    {5, "noteSubscriberDataModified"},
    {6, "resumeCallHandling"},
    {7, "insertSubscriberData"},
    {8, "deleteSubscriberData"},
    {10, "registerSS"},
    {11, "eraseSS"},
    {12, "activateSS"},
    {13, "deactivateSS"},
    {14, "interrogateSS"},
    {15, "authenticationFailureReport"},
    {17, "registerPassword"},
    {18, "getPassword"},
    {20, "releaseResources"},
    {21, "mt-ForwardSM-VGCS"},
    {22, "sendRoutingInfo"},
    {23, "updateGprsLocation"},
    {24, "sendRoutingInfoForGprs"},
    {25, "failureReport"},
    {26, "noteMsPresentForGprs"},
    {29, "sendEndSignal"},
    {33, "processAccessSignalling"},
    {34, "forwardAccessSignalling"},
    {36, "cancelVcsgLocation"},
    {37, "reset"},
    {38, "forwardCheckSS-Indication"},
    {39, "prepareGroupCall"},
    {40, "sendGroupCallEndSignal"},
    {41, "processGroupCallSignalling"},
    {42, "forwardGroupCallSignalling"},
    {43, "checkIMEI"},
    {44, "mt-ForwardSM"},
    {45, "sendRoutingInfoForSM"},
    {46, "mo-ForwardSM"},
    {47, "reportSM-DeliveryStatus"},
    {50, "activateTraceMode"},
    {51, "deactivateTraceMode"},
    {53, "updateVcsgLocation"},
    {55, "sendIdentification"},
    {56, "sendAuthenticationInfo"},
    {57, "restoreData"},
    {58, "sendIMSI"},
    {59, "processUnstructuredSS-Request"},
    {60, "unstructuredSS-Request"},
    {61, "unstructuredSS-Notify"},
    {62, "anyTimeSubscriptionInterrogation"},
    {63, "informServiceCentre"},
    {64, "alertServiceCentre"},
    {65, "anyTimeModification"},
    {66, "readyForSM"},
    {67, "purgeMS"},
    {68, "prepareHandover"},
    {69, "prepareSubsequentHandover"},
    {70, "provideSubscriberInfo"},
    {71, "anyTimeInterrogation"},
    {72, "ss-InvocationNotification"},
    {73, "setReportingState"},
    {74, "statusReport"},
    {75, "remoteUserFree"},
    {76, "registerCC-Entry"},
    {77, "eraseCC-Entry"},
    {78, "secureTransportClass1"},
    {79, "secureTransportClass2"},
    {80, "secureTransportClass3"},
    {81, "secureTransportClass4"},
    {83, "provideSubscriberLocation"},
    {84, "sendGroupCallInfo"},
    {85, "sendRoutingInfoForLCS"},
    {86, "subscriberLocationReport"},
    {87, "ist-Alert"},
    {88, "ist-Command"},
    {89, "noteMM-Event"},
};

constexpr std::size_t kTableSize = 128;

// Indexed by code, so a lookup per component costs one load.
constexpr auto kByCode = [] {
  std::array<std::string_view, kTableSize> t{};
  for (const auto& n : kOperations) t[n.code] = n.name;
  return t;
}();

}  // namespace

std::optional<std::string_view> mapOperationName(std::int64_t code) {
  if (code < 0 || code >= static_cast<std::int64_t>(kTableSize) || kByCode[code].empty())
    return std::nullopt;
  return kByCode[code];
}

}  // namespace qs

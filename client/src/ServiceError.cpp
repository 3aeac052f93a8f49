#include "ZoScsiSrvClient.h"

// The operations attach the service's status to the errors they make for
// its refusals (Refused in ClientOperations.h); nothing else sets it.
bool ZoScsiSrvClient::GetServiceError(const CYbError& error, int32_t& errorNumber, std::string& errorText) {
    return error.IsError() && error.PeerStatus(errorNumber, errorText);
}

#include "pcsc/ServiceStatus.h"

namespace pcsc {

bool IsServiceLost(Status status) {
    return status == SCARD_E_SERVICE_STOPPED || status == SCARD_E_NO_SERVICE ||
           status == SCARD_E_INVALID_HANDLE || status == ERROR_INVALID_HANDLE ||
           status == ERROR_BROKEN_PIPE;
}

bool IsServiceUnreachable(Status status) {
    return status != SCARD_S_SUCCESS && status != SCARD_E_NO_READERS_AVAILABLE;
}

}  // namespace pcsc

// What a failing call says about the smart-card service. Two rules, different
// on purpose: a lost service is what a new context can mend, and an
// unreachable one is what a check reports as "cannot reach the service or
// the library".
#pragma once

#include "pcsc/PCSCDef.h"

namespace pcsc {

// The service went away or restarted, or the handle died with it: only a
// new context helps then. The watcher, the manager and every reader renew
// theirs on it.
bool IsServiceLost(Status status);

// A call made to reach the service (establishing a context, listing the
// readers) got no usable answer: any failure but SCARD_E_NO_READERS_AVAILABLE,
// which a service that is there gives when no reader is plugged. The
// terminal program exits with status 2 on it.
bool IsServiceUnreachable(Status status);

}  // namespace pcsc

// The smart-card access library, whole: include this one header.
#pragma once

#include "pcsc/InFlight.h"
#include "pcsc/PCSCDef.h"
#include "pcsc/PCSCRaw.h"
#include "pcsc/Tools.h"

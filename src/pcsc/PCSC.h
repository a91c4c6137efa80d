// The smart-card access library, whole: include this one header.
#pragma once

#include "pcsc/Atr.h"
#include "pcsc/Events.h"
#include "pcsc/InFlight.h"
#include "pcsc/MainThread.h"
#include "pcsc/Manager.h"
#include "pcsc/ModuleLoader.h"
#include "pcsc/PCSCDef.h"
#include "pcsc/PCSCRaw.h"
#include "pcsc/Reader.h"
#include "pcsc/ReaderListThread.h"
#include "pcsc/ServiceStatus.h"
#include "pcsc/TextConversions.h"
#include "pcsc/Thread.h"
#include "pcsc/Tools.h"

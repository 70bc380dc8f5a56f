// Where every exchange with a module is told (each step of Module.h's
// operations as it is reported, each probe of the module finder), so that a
// listener sees the exchanges of every window and worker without their
// cooperation.
//
// Costs one relaxed atomic load per exchange while nobody listens.
#pragma once

#include "Trace.h"

// `sink` gets every exchange from now on, from whichever thread made it,
// with the driver's text for the step's status. Exchange must be quick and
// must not exchange itself: it runs inside the exchanging thread's call,
// under the hook's lock. Flush is never called.
void AddExchangeObserver(TTraceSink *sink);
// After the return no call into `sink` runs or starts.
void RemoveExchangeObserver(TTraceSink *sink);

// Called by the operations once a step's meaning is complete.
void NotifyExchange(const TModuleLink &link, const TModuleStep &step);

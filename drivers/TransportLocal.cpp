// The in-process stand-in for the ISA, PCI and USB interfaces: a simulated
// module at address 1, so the program can be tried without hardware.
#include "Transport.h"

#include "SimModule.h"
#include "q417drv.h"

namespace drv {

namespace {

// One bus per loaded library: connections share it, and it keeps the
// module's registers and outputs from one connection to the next until the
// program unloads the library.
SimBus &Bus()
{
    static SimBus bus = [] {
        SimBus b;
        b.Add(SimModule(1, 4));
        return b;
    }();
    return bus;
}

class LocalTransport final : public Transport {
public:
    int32_t TimeoutMs() const override { return 1000; }

    int32_t Exchange(const wire::Request &request, wire::Reply &reply) override
    {
        // No module at that address: no reply. Waiting would change nothing
        // in-process, so the time-out is reported at once.
        const auto r = Bus().Handle(request);
        if (!r)
            return Q417_E_TIMEOUT;
        reply = *r;
        return Q417_OK;
    }
};

} // namespace

std::unique_ptr<Transport> OpenLocal()
{
    return std::make_unique<LocalTransport>();
}

} // namespace drv

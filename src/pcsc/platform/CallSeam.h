// The one way the binding's wrappers call into the smart-card library. A
// wrapper hands its entry point and that entry point's row of the table
// (ModuleLoader.h) to Through, which answers SCARD_E_UNSUPPORTED_FEATURE
// without calling anything when the binding is not valid or the entry point
// is not bound; otherwise it runs the wrapper's own work (conversions,
// widths, records) around a Call, which notes the call in flight, forwards
// the arguments and hands back the library's code unchanged.
#pragma once

#include "pcsc/InFlight.h"
#include "pcsc/PCSCDef.h"
#include "pcsc/platform/Platform.h"

namespace pcsc::platform {

template <typename Function>
class Call {
public:
    Call(Function entry, const EntryPoint<Function>& row) : entry_(entry), shown_(row.shown) {}

    template <typename... Args>
    Status operator()(Args... args) const {
        InFlightCall in(shown_);
        return StatusOf(entry_(args...));
    }

private:
    Function entry_;
    const char* shown_;
};

// Work: Status(const Call<Function>&).
template <typename Function, typename Work>
Status Through(bool valid, Function entry, const EntryPoint<Function>& row, Work&& work) {
    if (!valid || !entry) return SCARD_E_UNSUPPORTED_FEATURE;
    return work(Call<Function>(entry, row));
}

// A wrapper with nothing to convert: the arguments go through as they are.
template <typename Function, typename... Args>
Status Forward(bool valid, Function entry, const EntryPoint<Function>& row, Args... args) {
    return Through(valid, entry, row, [&](const Call<Function>& call) { return call(args...); });
}

}  // namespace pcsc::platform

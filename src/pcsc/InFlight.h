// A frozen smart-card service blocks its calls without limit. So that a
// front end can say which call does not answer, every wrapper notes the entry
// point its thread is inside: one atomic slot per calling thread, set before
// and cleared after the forwarded call, readable from any other thread.
#pragma once

#include <string>
#include <vector>

namespace pcsc {

class InFlightCall {
public:
    // entry must be a static name (it is kept as a pointer).
    explicit InFlightCall(const char* entry) noexcept;
    ~InFlightCall();
    InFlightCall(const InFlightCall&) = delete;
    InFlightCall& operator=(const InFlightCall&) = delete;

private:
    void* slot_;
};

// Names of the entry points that some thread is inside right now, one per
// thread, in no particular order.
std::vector<std::string> ServiceCallsInFlight();

}  // namespace pcsc

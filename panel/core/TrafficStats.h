#pragma once

#include <cstdint>
#include <string>

namespace panel {

// The live traffic rates: amounts posted by the interceptor are summed, and
// once a second the sums become the newest point of a 60-point ring.

class TrafficStats {
public:
    static constexpr int kPoints = 60;

    // Codes 10 and 11 carry amounts in units of 10 bytes. The sums are 64
    // bits wide: no amount can overflow them within a second.
    void AddIncoming(uint32_t tensOfBytes) { incoming_ += int64_t {tensOfBytes} * 10; }
    void AddOutgoing(uint32_t tensOfBytes) { outgoing_ += int64_t {tensOfBytes} * 10; }
    int64_t Incoming() const { return incoming_; }
    int64_t Outgoing() const { return outgoing_; }

    struct Tick {
        int position; // the newest point, 1..60
        double incomingKb;
        double outgoingKb;
    };
    // Advances the ring, takes the sums (bytes / 1024 per second) and clears them.
    Tick NextTick();
    int Position() const { return position_; }

    // "0.00": at least one integer digit, two decimals.
    static std::string RateText(double kb);

private:
    int64_t incoming_ = 0;
    int64_t outgoing_ = 0;
    int position_ = 1;
};

}  // namespace panel

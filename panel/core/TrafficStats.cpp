#include "panel/core/TrafficStats.h"

#include <cstdio>

namespace panel {

TrafficStats::Tick TrafficStats::NextTick()
{
    Tick tick {};
    position_ = position_ == kPoints ? 1 : position_ + 1;
    tick.position = position_;
    tick.incomingKb = static_cast<double>(incoming_) / 1024.0;
    tick.outgoingKb = static_cast<double>(outgoing_) / 1024.0;
    incoming_ = outgoing_ = 0;
    return tick;
}

std::string TrafficStats::RateText(double kb)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", kb);
    return text;
}

}  // namespace panel

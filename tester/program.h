// Program-wide state of Ombrel.
#pragma once

namespace ombrel {

// The one port slot Ombrel uses in every library call.
constexpr unsigned short kSlot = 7;

struct Modes {
    bool quiet = false;
    bool debug = false;
};
extern Modes modes;

}  // namespace ombrel

// The simulated device served over RFC 2217 by a child process, with faults that the
// benchmark switches while it runs: the failure paths need a device that stops
// answering or goes away in the middle of a session, which quenta-sim's command line
// cannot ask for. A child process, so that its CPU time is not counted as ours.
#pragma once

#include <sys/types.h>

#include <string>

namespace bench {

class ForkedSim {
  public:
    enum class Fault : char {
        None = '0',              // a healthy device
        NoAnswer = 'n',          // every reply is lost, the device purge's too
        Disconnected = 'd',      // DSR, DCD and CTS drop; nothing is heard or sent
        CtsStuckInactive = 'c',  // connected, never ready
    };

    // With pace, reply bytes leave no earlier than their time on the line, timed to the
    // microsecond.
    explicit ForkedSim(bool pace = false);
    ~ForkedSim();
    ForkedSim(const ForkedSim&) = delete;
    ForkedSim& operator=(const ForkedSim&) = delete;

    bool Ok() const { return !url_.empty(); }
    const std::string& Url() const { return url_; }
    // In force when this returns true.
    bool SetFault(Fault fault);

  private:
    pid_t pid_ = -1;
    int control_ = -1;
    int ack_ = -1;
    std::string url_;
};

}  // namespace bench

// The simulated device behind a fake serial port: library tests talk to the same
// device model as quenta-sim serves, in-process and on the fake's virtual time.
//
//   SimPeer device;
//   fake_serial::Attach(3, &device);
//   device.Model().SetReplyFault('A', quenta_sim::ReplyFault::WrongEcho, 1);
#pragma once

#include <cstddef>
#include <cstdint>

#include "device_model.h"
#include "fake_serial.h"

class SimPeer : public fake_serial::Peer {
  public:
    explicit SimPeer(const quenta_sim::DeviceConfig& config = quenta_sim::DeviceConfig());

    quenta_sim::DeviceModel& Model() { return model_; }

    // Off (the default): a reply reaches the host at once. On: its bytes arrive one by
    // one as virtual time passes, each after its time on a 230400 baud 8E1 line.
    void SetPacing(bool on) { model_.SetPacing(on); }

    void OnHostBytes(unsigned com, const char* data, std::size_t n) override;
    void OnHostLines(unsigned com, bool dtr, bool rts) override;
    std::uint32_t ModemStatus(unsigned com) override;
    void OnTime(unsigned com, std::uint64_t nowMs) override;

  private:
    void Deliver(unsigned com);

    quenta_sim::DeviceModel model_;
};

#include "sim_peer.h"

namespace {

std::uint64_t NowUs() {
    return fake_serial::NowMs() * 1000;
}

}  // namespace

SimPeer::SimPeer(const quenta_sim::DeviceConfig& config) : model_(config) {
    // A fake port starts with both host lines off, until the host opens it.
    model_.SetHostLines(false, false, NowUs());
}

void SimPeer::OnHostBytes(unsigned com, const char* data, std::size_t n) {
    model_.HostWrite(data, n, NowUs());
    Deliver(com);
}

void SimPeer::OnHostLines(unsigned com, bool dtr, bool rts) {
    model_.SetHostLines(dtr, rts, NowUs());
    Deliver(com);
}

std::uint32_t SimPeer::ModemStatus(unsigned) {
    return model_.ModemStatus();
}

void SimPeer::OnTime(unsigned com, std::uint64_t nowMs) {
    model_.Advance(nowMs * 1000);
    Deliver(com);
}

void SimPeer::Deliver(unsigned com) {
    char chunk[512];
    std::size_t n;
    while ((n = model_.ReadOutput(chunk, sizeof chunk, NowUs())) > 0)
        fake_serial::DeviceSend(com, chunk, n);
}

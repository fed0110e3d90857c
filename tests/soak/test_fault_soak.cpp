// Fault soak: tens of thousands of commands against the simulated device on the fake
// serial backend's virtual time, with faults on the line at random: bytes lost or
// corrupted in either direction, replies with a wrong echo, cut short, without their
// carriage return or lost, CTS glitches, disconnects and reconnects, failing port
// operations. Every result must be a documented status code, no command may take
// longer than the library's own bounds allow, the link must work again as soon as the
// faults stop, a second device on another slot must never notice, and the heap must
// stay flat.
//
// SOAK_TRANSACTIONS and SOAK_SEED override the length and the seed (tools/soak.sh).
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "device_model.h"
#include "fake_serial.h"
#include "library_reset.h"
#include "sim_peer.h"
#include "telvar.h"
#include "telvar_calls.h"

namespace {

using fake_serial::Op;

constexpr unsigned short kSlot = 0;
constexpr unsigned char kCom = 3;
constexpr unsigned short kCleanSlot = 7;
constexpr unsigned char kCleanCom = 4;

// The longest a command may take by the library's own bounds, in milliseconds: an
// attempt is a handshake (two waits of 1000 polls, 1 ms apart) and two reads (echo and
// payload) that give up after 10 ms and 100 repeats of a 5 ms pause and a 10 ms read;
// a repair is a host purge (the connection and not-ready waits, then a handshake) and
// a device purge attempt. A command makes two attempts and up to ten repairs.
constexpr std::uint64_t kPollWaitMs = 1000;
constexpr std::uint64_t kReadMs = 10 + 100 * (5 + 10);
constexpr std::uint64_t kAttemptMs = 2 * kPollWaitMs + 2 * kReadMs;
constexpr std::uint64_t kRepairMs = 4 * kPollWaitMs + kAttemptMs;
constexpr std::uint64_t kCommandBoundMs = 2 * kAttemptMs + 10 * kRepairMs;

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// The device model behind a noisy line: each byte may be lost or have a bit flipped on
// its way in either direction, and CTS may drop for a while whatever the device says.
class NoisyDevice : public fake_serial::Peer {
  public:
    explicit NoisyDevice(std::uint32_t seed) : rng_(seed) {
        model_.SetHostLines(false, false, NowUs());
        model_.SetPacing(true);
    }

    quenta_sim::DeviceModel& Model() { return model_; }
    void SetNoise(double loss, double corruption) {
        loss_ = loss;
        corruption_ = corruption;
    }
    void GlitchCts(std::uint64_t untilMs) { ctsOffUntilMs_ = untilMs; }
    // Unplugged now, plugged in again at untilMs, possibly in the middle of a command.
    void Disconnect(std::uint64_t untilMs) {
        model_.SetConnected(false, NowUs());
        reconnectAtMs_ = untilMs;
    }
    void Quiet() {
        SetNoise(0, 0);
        ctsOffUntilMs_ = 0;
        reconnectAtMs_ = 0;
        model_.ClearFaults();
        model_.SetConnected(true, NowUs());
    }

    void OnHostBytes(unsigned com, const char* data, std::size_t n) override {
        for (std::size_t i = 0; i < n; ++i) {
            char byte = data[i];
            if (Noise(byte)) model_.HostWrite(&byte, 1, NowUs());
        }
        Deliver(com);
    }
    void OnHostLines(unsigned com, bool dtr, bool rts) override {
        model_.SetHostLines(dtr, rts, NowUs());
        Deliver(com);
    }
    std::uint32_t ModemStatus(unsigned) override {
        const std::uint32_t lines = model_.ModemStatus();
        return fake_serial::NowMs() < ctsOffUntilMs_ ? lines & ~quenta_sim::kCts : lines;
    }
    void OnTime(unsigned com, std::uint64_t nowMs) override {
        if (reconnectAtMs_ != 0 && nowMs >= reconnectAtMs_) {
            model_.SetConnected(true, nowMs * 1000);
            reconnectAtMs_ = 0;
        }
        model_.Advance(nowMs * 1000);
        Deliver(com);
    }

  private:
    static std::uint64_t NowUs() { return fake_serial::NowMs() * 1000; }

    // False: the byte is lost. Otherwise it may arrive with one bit flipped.
    bool Noise(char& byte) {
        if (loss_ > 0 && unit_(rng_) < loss_) return false;
        if (corruption_ > 0 && unit_(rng_) < corruption_) {
            byte = static_cast<char>(byte ^ (1 << (rng_() % 8)));
        }
        return true;
    }

    void Deliver(unsigned com) {
        char chunk[512];
        std::size_t n;
        while ((n = model_.ReadOutput(chunk, sizeof chunk, NowUs())) > 0) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < n; ++i) {
                char byte = chunk[i];
                if (Noise(byte)) chunk[kept++] = byte;
            }
            fake_serial::DeviceSend(com, chunk, kept);
        }
    }

    quenta_sim::DeviceModel model_;
    std::mt19937 rng_;
    std::uniform_real_distribution<double> unit_{0.0, 1.0};
    double loss_ = 0;
    double corruption_ = 0;
    std::uint64_t ctsOffUntilMs_ = 0;
    std::uint64_t reconnectAtMs_ = 0;
};

class FaultSoak : public ::testing::Test {
  protected:
    void SetUp() override {
        telvar::ResetLibraryState();
        Reconnect();
    }
    void TearDown() override {
        telvar::ResetLibraryState();
        fake_serial::Reset();
    }

    // Both ports closed and the fake forgotten (its logs grow with every call), then
    // opened again on devices of the fake's new time: a round starts from the same heap.
    void Reconnect() {
        TELVAR_Close(kSlot);
        TELVAR_Close(kCleanSlot);
        fake_serial::Reset();
        device = std::make_unique<NoisyDevice>(static_cast<std::uint32_t>(rng()));
        clean = std::make_unique<SimPeer>();
        fake_serial::Attach(kCom, device.get());
        fake_serial::Attach(kCleanCom, clean.get());
        ASSERT_EQ(TELVAR_Open(kSlot, kCom), 0);
        ASSERT_EQ(TELVAR_Open(kCleanSlot, kCleanCom), 0);
        fake_serial::ClearCalls();
    }

    // One port operation fails at random, or a write is cut short, or line errors
    // are reported.
    void SeamFault() {
        static const Op kOps[] = {Op::ReadPort,  Op::WritePort,      Op::GetModemStatus,
                                  Op::PurgePort, Op::EscapeFunction, Op::ClearErrors};
        const unsigned pick = rng() % 8;
        if (pick < 6) {
            fake_serial::FailLater(kOps[pick], static_cast<int>(rng() % 40));
        } else if (pick == 6) {
            fake_serial::ShortWrite(0);
        } else {
            fake_serial::RaiseLineErrors(serial_os::kErrFrame | serial_os::kErrRxParity);
        }
    }
    // Injected port faults apply to any port: none may be left for the clean slot.
    static void ClearSeamFaults() {
        for (int op = 0; op < static_cast<int>(Op::kCount); ++op) {
            fake_serial::FailLater(static_cast<Op>(op), 0, 0);
        }
    }

    // Draws a command, rarely the long display read (a noisy line breaks most of its
    // 2050 characters).
    const telvar_calls::Call& Draw() {
        for (;;) {
            const auto& call = telvar_calls::kCalls[rng() % telvar_calls::kCallCount];
            if (std::string(call.name) != "TELVAR_ReadDisplay" || rng() % 10 == 0) return call;
        }
    }

    // One command on the faulty slot, with every check that holds whatever the faults.
    void Command(const telvar_calls::Call& call) {
        const std::uint64_t t0 = fake_serial::NowMs();
        const int status = call.call(kSlot);
        const std::uint64_t took = fake_serial::NowMs() - t0;
        ClearSeamFaults();
        fake_serial::ClearCalls();
        ++seen[status];
        longestMs = std::max(longestMs, took);
        EXPECT_TRUE(telvar_calls::IsCommandStatus(status)) << call.name << " returned " << status;
        // A successful host purge keeps the status stored before it.
        if (status != 0 || std::string(call.name) != "TELVAR_Purge") {
            EXPECT_EQ(TELVAR_State(kSlot), status) << call.name;
        }
        const int io = TELVAR_IO_State(kSlot);
        EXPECT_TRUE(io >= 0 && io <= 12) << call.name << " left I/O state " << io;
        EXPECT_LE(took, kCommandBoundMs) << call.name << " took " << took << " ms";
    }

    std::mt19937 rng{static_cast<std::uint32_t>(EnvNumber("SOAK_SEED", 2024))};
    std::unique_ptr<NoisyDevice> device;
    std::unique_ptr<SimPeer> clean;
    std::map<int, long> seen;
    std::uint64_t longestMs = 0;
};

TEST_F(FaultSoak, EveryResultIsDocumentedAndTheLinkRecoversWhenTheFaultsStop) {
    const std::uint64_t total = EnvNumber("SOAK_TRANSACTIONS", 20000);
    constexpr std::uint64_t kRound = 250;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::size_t heapFirst = 0;
    std::size_t heapLow = SIZE_MAX;
    std::size_t heapHigh = 0;
    long recoveries = 0;

    for (std::uint64_t done = 0, round = 0; done < total; ++round) {
        // Faults on: noise on the line, reply faults, and one disconnect somewhere in
        // the round.
        device->SetNoise(0.001 * (rng() % 4), 0.001 * (rng() % 4));
        device->Model().SetFaultRate(0.02);
        const std::uint64_t disconnectAt = rng() % kRound;
        for (std::uint64_t i = 0; i < kRound && done < total; ++i, ++done) {
            // Long enough, at times, for a whole command to give up (21 s of polls).
            if (i == disconnectAt) device->Disconnect(fake_serial::NowMs() + rng() % 30000);
            if (unit(rng) < 0.01) device->GlitchCts(fake_serial::NowMs() + rng() % 1500);
            if (unit(rng) < 0.01) SeamFault();
            Command(Draw());
            // The other device shares nothing with this one but the library.
            if (i % 16 == 0) {
                ASSERT_EQ(TELVAR_GetUptime(kCleanSlot, &telvar_calls::outs.seconds,
                                           &telvar_calls::outs.word),
                          0)
                    << "after " << done << " commands";
            }
            if (HasFatalFailure() || testing::Test::HasFailure()) break;
        }
        ASSERT_FALSE(testing::Test::HasFailure()) << "seed " << EnvNumber("SOAK_SEED", 2024);

        // Faults off: the very next command succeeds, whatever the last one left behind
        // (a half line in the device, stale bytes, RTS off). The link's own three
        // functions have no repair around them, so they may fail once more.
        device->Quiet();
        const telvar_calls::Call* next = &Draw();
        while (!next->Repaired()) next = &Draw();
        const telvar_calls::Call& call = *next;
        ASSERT_EQ(call.call(kSlot), 0) << call.name << " after round " << round;
        ++recoveries;
        fake_serial::ClearCalls();

        Reconnect();
        const std::size_t heap = mallinfo2().uordblks;
        if (round == 1) heapFirst = heap;
        if (round >= 1) {
            heapLow = std::min(heapLow, heap);
            heapHigh = std::max(heapHigh, heap);
        }
    }

    std::string tally;
    for (const auto& entry : seen) {
        tally += " " + std::to_string(entry.first) + ":" + std::to_string(entry.second);
    }
    std::printf("statuses%s\nlongest command %llu ms (bound %llu ms), %ld recoveries\n",
                tally.c_str(), static_cast<unsigned long long>(longestMs),
                static_cast<unsigned long long>(kCommandBoundMs), recoveries);
    std::printf("heap in use after round 1: %zu bytes, later between %zu and %zu\n", heapFirst,
                heapLow, heapHigh);
    // The faults reached every layer: replies, the handshake and the connection.
    for (int status : {0, -10, -11, -13, -14, -100, -101}) {
        EXPECT_GT(seen[status], 0) << "no command returned " << status;
    }
    // Flat: a round leaves the heap as it found it (allocator rounding aside).
    EXPECT_LE(heapHigh - heapLow, 4096u);
}

}  // namespace

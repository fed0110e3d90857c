// Arbitrary device replies for every command, through the fake serial backend: the
// reply reader, the checks and every conversion meet bytes no device would send.
//
// Input: one byte picks the command, one byte sets the device's behaviour, then the
// replies it gives in turn, each as a two-byte length (little endian) and its bytes.
// The device purge of the repairs is answered by the device itself unless the
// behaviour byte says otherwise; once the replies run out the device repeats the last
// one (silence costs seconds of virtual time per read, and fuzzing wants speed).
//
// Behaviour: bits 0-1 the purge answer ("Y", "Y", "N", none of its own), bits 2-4 a
// reply delay in ms, bits 5-7 all set: CTS ignores RTS (the host purge then waits
// 1000 polls in vain).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fake_serial.h"
#include "library_reset.h"
#include "scripted_device.h"
#include "telvar.h"
#include "telvar_calls.h"

namespace {

constexpr unsigned short kSlot = 3;
constexpr unsigned char kCom = 5;

[[noreturn]] void Fail(const char* what, const char* name, int value) {
    std::fprintf(stderr, "%s: %s (%d)\n", name, what, value);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const telvar_calls::Call& call = telvar_calls::kCalls[data[0] % telvar_calls::kCallCount];
    const std::uint8_t behaviour = data[1];

    telvar::ResetLibraryState();
    fake_serial::Reset();
    ScriptedDevice device;
    fake_serial::Attach(kCom, &device);
    if (TELVAR_Open(kSlot, kCom) != 0) Fail("cannot open", "TELVAR_Open", -1);

    static const ScriptedDevice::PurgeAnswer kPurgeAnswers[] = {
        ScriptedDevice::PurgeAnswer::Purged, ScriptedDevice::PurgeAnswer::Purged,
        ScriptedDevice::PurgeAnswer::NotPurged, ScriptedDevice::PurgeAnswer::Off};
    device.SetPurgeAnswer(kPurgeAnswers[behaviour & 3]);
    device.SetReplyDelayMs((behaviour >> 2) & 7);
    device.SetCtsFollowsRts((behaviour >> 5) != 7);
    std::string last;
    for (std::size_t at = 2; at + 2 <= size;) {
        const std::size_t length =
            std::min<std::size_t>(data[at] | data[at + 1] << 8, size - at - 2);
        last.assign(reinterpret_cast<const char*>(data + at + 2), length);
        device.Script(last);
        at += 2 + length;
    }
    if (!last.empty()) {
        device.SetHandler([last](const std::string&, std::string& reply) {
            reply = last;
            return true;
        });
    }

    const int status = call.call(kSlot);
    if (!telvar_calls::IsCommandStatus(status)) Fail("undocumented status", call.name, status);
    const int stored = TELVAR_State(kSlot);
    if (stored != status && !(status == 0 && std::string(call.name) == "TELVAR_Purge")) {
        Fail("stored status differs", call.name, stored);
    }
    const int io = TELVAR_IO_State(kSlot);
    if (io < 0 || io > 12) Fail("I/O state out of range", call.name, io);
    // The link works again for a device that behaves, once what it still had on its
    // way has arrived.
    fake_serial::AdvanceMs(100);
    device.ClearScript();
    device.SetHandler(nullptr);
    device.SetPurgeAnswer(ScriptedDevice::PurgeAnswer::Purged);
    device.SetCtsFollowsRts(true);
    device.SetReplyDelayMs(0);
    device.Rule('U', "U00000E1080\r");
    const int after =
        TELVAR_GetUptime(kSlot, &telvar_calls::outs.seconds, &telvar_calls::outs.word);
    if (after != 0) Fail("no recovery", call.name, after);
    // Closed while the device still exists: nothing outlives this input.
    telvar::ResetLibraryState();
    fake_serial::Reset();
    return 0;
}

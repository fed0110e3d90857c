// Arbitrary server bytes through the Telnet decoder and the option negotiation of the
// network serial client, and the coding round trip of the same bytes as data and as a
// subnegotiation value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "telnet_codec.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

bool IsVerb(std::uint8_t byte) {
    return byte >= telnet::kWill && byte <= telnet::kDont;
}

// The stream as a server might send it.
void Decode(const std::uint8_t* data, std::size_t size) {
    telnet::Decoder decoder;
    telnet::Negotiator negotiator;
    std::uint8_t out[32];
    negotiator.Start(out);
    for (std::size_t i = 0; i < size; ++i) {
        switch (decoder.Push(data[i])) {
            case telnet::Decoder::Event::Negotiation: {
                if (!IsVerb(decoder.Verb())) Fail("negotiation without a verb");
                const std::size_t n = negotiator.Receive(decoder.Verb(), decoder.Option(), out);
                if (n != 0 && (n != 3 || out[0] != telnet::kIac || !IsVerb(out[1]) ||
                               out[2] != decoder.Option())) {
                    Fail("malformed negotiation reply");
                }
                break;
            }
            case telnet::Decoder::Event::Subnegotiation:
                if (decoder.SubLength() == 0 ||
                    decoder.SubLength() > telnet::Decoder::kSubCapacity) {
                    Fail("subnegotiation length out of bounds");
                }
                break;
            default:
                break;
        }
    }
}

// Data coded with IAC doubling decodes to itself, whatever the output room.
void DataRoundTrip(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> coded(2 * size + 1);
    const std::size_t room = size == 0 ? 0 : data[0] % (2 * size + 1);
    std::size_t consumed = 0;
    const std::size_t n = telnet::Escape(data, size, coded.data(), room, consumed);
    if (n > room || consumed > size) Fail("escape beyond its bounds");
    telnet::Decoder decoder;
    std::vector<std::uint8_t> decoded;
    for (std::size_t i = 0; i < n; ++i) {
        const auto event = decoder.Push(coded[i]);
        if (event == telnet::Decoder::Event::Data) {
            decoded.push_back(decoder.Data());
        } else if (event != telnet::Decoder::Event::None) {
            Fail("escaped data decodes to a command");
        }
    }
    if (decoded.size() != consumed ||
        (consumed > 0 && std::memcmp(decoded.data(), data, consumed) != 0)) {
        Fail("escaped data does not decode to itself");
    }
}

// A subnegotiation that fits decodes to its option and value.
void SubnegotiationRoundTrip(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const std::uint8_t option = data[0];
    const std::uint8_t* value = data + 1;
    const std::size_t n = size - 1;
    std::uint8_t coded[2 * telnet::Decoder::kSubCapacity + 8];
    const std::size_t length = telnet::Subnegotiation(option, value, n, coded, sizeof coded);
    if (length == 0) return;
    if (length > sizeof coded) Fail("subnegotiation beyond its bounds");
    telnet::Decoder decoder;
    telnet::Decoder::Event last = telnet::Decoder::Event::None;
    for (std::size_t i = 0; i < length; ++i) {
        last = decoder.Push(coded[i]);
        if (i + 1 < length && last != telnet::Decoder::Event::None) Fail("early event");
    }
    if (n + 1 > telnet::Decoder::kSubCapacity) {
        if (last != telnet::Decoder::Event::Dropped) Fail("oversize subnegotiation kept");
        return;
    }
    if (last != telnet::Decoder::Event::Subnegotiation || decoder.SubLength() != n + 1 ||
        decoder.Sub()[0] != option || std::memcmp(decoder.Sub() + 1, value, n) != 0) {
        Fail("subnegotiation does not decode to itself");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Decode(data, size);
    DataRoundTrip(data, size);
    SubnegotiationRoundTrip(data, size);
    return 0;
}

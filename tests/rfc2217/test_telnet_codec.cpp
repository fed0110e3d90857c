// Telnet coding: the decoder on awkward streams, escaping, and option negotiation.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "telnet_codec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using telnet::Decoder;

std::string Hex(std::uint8_t byte) {
    static const char kDigits[] = "0123456789abcdef";
    return {kDigits[byte >> 4], kDigits[byte & 15]};
}

// What the decoder made of a stream, one token per completed event.
std::string Transcript(const Bytes& stream) {
    Decoder decoder;
    std::string out;
    for (std::uint8_t byte : stream) {
        switch (decoder.Push(byte)) {
            case Decoder::Event::None:
                continue;
            case Decoder::Event::Data:
                out += "d" + Hex(decoder.Data());
                break;
            case Decoder::Event::Negotiation:
                out += "n" + Hex(decoder.Verb()) + Hex(decoder.Option());
                break;
            case Decoder::Event::Command:
                out += "c" + Hex(decoder.Command());
                break;
            case Decoder::Event::Subnegotiation:
                out += "s";
                for (std::size_t i = 0; i < decoder.SubLength(); ++i) out += Hex(decoder.Sub()[i]);
                break;
            case Decoder::Event::Dropped:
                out += "x";
                break;
        }
        out += ' ';
    }
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Filler(std::size_t n) {
    return Bytes(n, 'x');
}

struct DecodeCase {
    const char* name;
    Bytes stream;
    std::string expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesExpectedEvents) {
    EXPECT_EQ(Transcript(GetParam().stream), GetParam().expected);
}

const std::string kFillerSub = [] {
    std::string s = "s2c";
    for (int i = 0; i < 63; ++i) s += "78";
    return s + " ";
}();

INSTANTIATE_TEST_SUITE_P(
    Streams, DecodeTest,
    ::testing::Values(
        DecodeCase{"PlainData", {'A', 0x00, 0x0D}, "d41 d00 d0d "},
        DecodeCase{"DoubledIacIsOneDataByte", {'A', 255, 255, 'B'}, "d41 dff d42 "},
        DecodeCase{"FourIacsAreTwoDataBytes", {255, 255, 255, 255}, "dff dff "},
        DecodeCase{"Negotiation", {255, 251, 1, 255, 254, 99}, "nfb01 nfe63 "},
        DecodeCase{"IacInsideSubValue", {255, 250, 44, 107, 255, 255, 255, 240}, "s2c6bff "},
        DecodeCase{"SubValueEndingInDoubledIac",
                   {255, 250, 44, 101, 0, 0, 255, 255, 255, 240, 'A'},
                   "s2c650000ff d41 "},
        DecodeCase{"OtherCommandsAreNotData",
                   {'A', 255, 241, 'B', 255, 249, 255, 243},
                   "d41 cf1 d42 cf9 cf3 "},
        DecodeCase{"SeOutsideSubIsACommand", {255, 240, 'A'}, "cf0 d41 "},
        DecodeCase{"EmptySubIsDropped", {255, 250, 255, 240, 'A'}, "x d41 "},
        DecodeCase{"SubOfExactlyCapacityIsKept", Concat({{255, 250, 44}, Filler(63), {255, 240}}),
                   kFillerSub},
        DecodeCase{"OversizeSubIsDroppedAndDataFollows",
                   Concat({{255, 250, 44}, Filler(64), {255, 240, 'A'}}), "x d41 "},
        DecodeCase{
            "HugeSubWithIacsIsDropped",
            Concat({{255, 250, 44}, Filler(5000), {255, 255}, Filler(5000), {255, 240, 'Z'}}),
            "x d5a "},
        DecodeCase{"SubCutByNegotiation", {255, 250, 44, 107, 255, 251, 3, 'A'}, "x nfb03 d41 "},
        DecodeCase{
            "SubRestartedBySb", {255, 250, 44, 7, 255, 250, 44, 107, 16, 255, 240}, "x s2c6b10 "},
        DecodeCase{"SubCutByOtherCommand", {255, 250, 44, 107, 255, 241, 'A'}, "x d41 "},
        DecodeCase{"SubOfUnknownOptionIsDelivered", {255, 250, 24, 1, 255, 240}, "s1801 "},
        DecodeCase{"DataBytesLookingLikeCommandsAfterSub",
                   {255, 250, 44, 107, 48, 255, 240, 251, 250, 240},
                   "s2c6b30 dfb dfa df0 "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Escape, DoublesIacAndNeverSplitsAPair) {
    const Bytes data = {'A', 255, 'B', 255, 255};
    std::uint8_t out[16];
    std::size_t consumed = 0;
    ASSERT_EQ(telnet::Escape(data.data(), data.size(), out, sizeof out, consumed), 8u);
    EXPECT_EQ(consumed, 5u);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{'A', 255, 255, 'B', 255, 255, 255, 255}));

    // Room for 'A' and half of the pair: the IAC waits for the next chunk.
    EXPECT_EQ(telnet::Escape(data.data(), data.size(), out, 2, consumed), 1u);
    EXPECT_EQ(consumed, 1u);
    EXPECT_EQ(telnet::Escape(data.data(), data.size(), out, 3, consumed), 3u);
    EXPECT_EQ(consumed, 2u);
}

TEST(Subnegotiation, EscapesValueAndChecksRoom) {
    const std::uint8_t value[] = {1, 0, 0, 0, 255};
    std::uint8_t out[32];
    const std::size_t n = telnet::Subnegotiation(44, value, sizeof value, out, sizeof out);
    EXPECT_EQ(Bytes(out, out + n), (Bytes{255, 250, 44, 1, 0, 0, 0, 255, 255, 255, 240}));
    EXPECT_EQ(Transcript(Bytes(out, out + n)), "s2c01000000ff ");
    EXPECT_EQ(telnet::Subnegotiation(44, value, sizeof value, out, n - 1), 0u);
}

// One negotiation step after our opening requests: what arrives, what we answer.
struct NegotiationCase {
    const char* name;
    Bytes before;  // verb/option pairs received earlier
    std::uint8_t verb, option;
    Bytes reply;
    bool comPortAgreed, comPortRefused;
};

class NegotiatorTest : public ::testing::TestWithParam<NegotiationCase> {};

TEST_P(NegotiatorTest, AnswersWithoutLoops) {
    const NegotiationCase& c = GetParam();
    telnet::Negotiator negotiator;
    std::uint8_t start[16];
    ASSERT_EQ(negotiator.Start(start), 15u);
    std::uint8_t reply[3];
    for (std::size_t i = 0; i + 1 < c.before.size(); i += 2) {
        negotiator.Receive(c.before[i], c.before[i + 1], reply);
    }
    const std::size_t n = negotiator.Receive(c.verb, c.option, reply);
    EXPECT_EQ(Bytes(reply, reply + n), c.reply);
    EXPECT_EQ(negotiator.ComPortAgreed(), c.comPortAgreed);
    EXPECT_EQ(negotiator.ComPortRefused(), c.comPortRefused);
}

constexpr std::uint8_t WILL = 251, WONT = 252, DO = 253, DONT = 254;

INSTANTIATE_TEST_SUITE_P(
    Steps, NegotiatorTest,
    ::testing::Values(
        NegotiationCase{"RefusesEcho", {}, WILL, 1, {255, DONT, 1}, false, false},
        NegotiationCase{"WillNotEcho", {}, DO, 1, {255, WONT, 1}, false, false},
        NegotiationCase{"RefusalOfUnknownNotAnswered", {}, DONT, 99, {}, false, false},
        NegotiationCase{"WontOfUnknownNotAnswered", {}, WONT, 99, {}, false, false},
        NegotiationCase{"AckOfOurRequestNotAnswered", {}, DO, 0, {}, false, false},
        NegotiationCase{"RepeatedAckNotAnswered", {DO, 0}, DO, 0, {}, false, false},
        NegotiationCase{"ServerAcceptsComPort", {}, DO, 44, {}, true, false},
        NegotiationCase{"ServerOffersComPort", {}, WILL, 44, {255, DO, 44}, true, false},
        NegotiationCase{"ServerRefusesComPort", {}, DONT, 44, {}, false, true},
        NegotiationCase{"RefusalAfterOwnOfferStillAgreed", {WILL, 44}, DONT, 44, {}, true, false},
        NegotiationCase{
            "DisablingEnabledIsAcknowledged", {DO, 0}, DONT, 0, {255, WONT, 0}, false, false},
        NegotiationCase{"ReEnablingAfterDisableIsAnswered",
                        {DO, 3, DONT, 3},
                        DO,
                        3,
                        {255, WILL, 3},
                        false,
                        false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

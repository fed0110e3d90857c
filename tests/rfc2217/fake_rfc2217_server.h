// A scripted RFC 2217 server on a loopback port, on a thread of its own. It accepts
// one client, answers the Telnet negotiation, records every COM port command and all
// data it receives, and plays a device whose CTS follows RTS. Its habit says when it
// reports the modem lines, because real servers differ exactly there.
// It decodes with its own small parser, independent of the client's.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeRfc2217Server {
  public:
    enum class Habit {
        ReportsWhenAsked,  // on agreement and on every NOTIFY-MODEMSTATE (pyserial)
        ReportsOnMask,     // only in answer to SET-MODEMSTATE-MASK (ser2net)
        NeverReports,      // agrees, then never tells the lines
        RefusesComPort,    // a plain Telnet server
        Mute,              // accepts the connection and never says a word
    };
    struct Command {
        std::uint8_t code;
        std::vector<std::uint8_t> value;
    };
    using Bytes = std::vector<std::uint8_t>;

    explicit FakeRfc2217Server(Habit habit);
    ~FakeRfc2217Server();
    FakeRfc2217Server(const FakeRfc2217Server&) = delete;
    FakeRfc2217Server& operator=(const FakeRfc2217Server&) = delete;

    std::string Url() const;

    // To the client: raw bytes as they are, data with IAC doubled, a COM port
    // subnegotiation with its value escaped. Raw bytes go out one send per byte
    // when split is set, so the client meets them cut at every point.
    void SendRaw(const Bytes& raw, bool split = false);
    void SendData(const std::string& data);
    void SendSub(std::uint8_t code, const Bytes& value);

    void SetLines(std::uint8_t dsrRingDcd);  // CTS is not among them: it follows RTS
    void ForceBaudAck(std::uint32_t baud);   // acknowledge every baud rate with this
    void SetAcknowledges(bool on);           // answer settings, control and purge
    void Disconnect();                       // drop the client

    std::vector<Command> Commands() const;
    std::vector<Command> CommandsWithCode(std::uint8_t code) const;
    Bytes Data() const;
    Bytes Raw() const;           // everything received, undecoded
    Bytes Negotiations() const;  // verb, option pairs received
    bool Connected() const;
    void ClearRecords();

    // Polls the condition every millisecond; false if it did not hold in time.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

  private:
    void Run();
    void Receive(std::uint8_t byte);
    void OnNegotiation(std::uint8_t verb, std::uint8_t option);
    void OnSub();
    void QueueSub(std::uint8_t code, const Bytes& value);
    void QueueModemState();
    void Queue(const Bytes& bytes, bool split = false);
    void Wake();

    const Habit habit_;
    int listener_ = -1;
    int client_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    bool stop_ = false;
    bool disconnect_ = false;
    mutable std::mutex mutex_;
    std::thread thread_;

    // Shared with the test thread, under mutex_.
    std::vector<Bytes> outgoing_;
    std::vector<Command> commands_;
    Bytes data_, raw_, negotiations_;
    std::uint8_t lines_ = 0xA0;  // DSR and DCD
    bool rts_ = false;
    std::uint32_t forcedBaud_ = 0;
    bool acknowledges_ = true;
    bool answeredDo_[256] = {};
    bool answeredWill_[256] = {};

    // Decoder state, server thread only.
    enum class State { Data, Iac, Verb, Sub, SubIac } state_ = State::Data;
    std::uint8_t verb_ = 0;
    Bytes sub_;
};

// quenta-sim as a program: real sockets on loopback, a minimal Telnet client, signals.
// Every wait is bounded, so a broken server fails the test instead of hanging it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned char kIac = 255, kSb = 250, kSe = 240, kWill = 251, kComPort = 44;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs quenta-sim with its output in a file, and finds the port it bound.
class Server {
  public:
    explicit Server(std::vector<std::string> args) {
        char pattern[] = "/tmp/quenta-sim-test-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0) close(fd);
        logPath_ = pattern;
        args.insert(args.begin(), QUENTA_SIM_PATH);
        pid_ = fork();
        if (pid_ == 0) {
            const int out = open(logPath_.c_str(), O_WRONLY | O_TRUNC);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Server() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::remove(logPath_.c_str());
    }

    // Waits (bounded) until the log shows `text`.
    bool WaitForLog(const std::string& text, int ms = 5000) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            if (Log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int Port() {
        if (!WaitForLog("listening on 127.0.0.1:")) return -1;
        const std::string log = Log();
        return std::atoi(log.c_str() + log.find("listening on 127.0.0.1:") + 23);
    }
    // The exit status, or -1 if it is still running after `ms`.
    int Wait(int ms = 5000) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        int status = 0;
        while (Clock::now() < end) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    void Signal(int sig) { kill(pid_, sig); }
    std::string Log() const { return ReadFile(logPath_); }

  private:
    pid_t pid_ = -1;
    std::string logPath_;
};

// Just enough Telnet to talk to a serial port: the device's bytes, and the
// COM-PORT-OPTION notifications the server sends.
class Client {
  public:
    explicit Client(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { Close(); }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    bool Connected() const { return connected_; }

    void Send(const std::string& bytes) {
        ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void SendControl(int value) {
        Send(std::string{char(kIac), char(kSb), char(kComPort), 5, char(value), char(kIac),
                         char(kSe)});
    }
    // Reads until `n` data bytes have come (or the wait ends); returns them.
    std::string Data(std::size_t n, int ms = 3000) {
        Pull([&] { return data_.size() >= n; }, ms);
        std::string got = data_.substr(0, std::min(n, data_.size()));
        data_.erase(0, got.size());
        return got;
    }
    // Waits for a NOTIFY-MODEMSTATE whose value satisfies `want`.
    bool ModemState(int mask, int value, int ms = 3000) {
        return Pull(
            [&] {
                while (!notifications_.empty()) {
                    const int state = notifications_.front();
                    notifications_.erase(notifications_.begin());
                    if ((state & mask) == value) return true;
                }
                return false;
            },
            ms);
    }
    // True when the server closes the connection within `ms`.
    bool ClosedByServer(int ms = 3000) {
        Pull([] { return false; }, ms);
        return eof_;
    }

  private:
    template <typename Done>
    bool Pull(Done done, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0 || eof_) return false;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            unsigned char buffer[4096];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                eof_ = true;
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) Parse(buffer[i]);
        }
        return true;
    }
    void Parse(unsigned char b) {
        switch (state_) {
            case 0:
                if (b == kIac) {
                    state_ = 1;
                } else {
                    data_ += static_cast<char>(b);
                }
                break;
            case 1:
                if (b == kIac) {
                    data_ += static_cast<char>(b);
                    state_ = 0;
                } else if (b == kSb) {
                    sb_.clear();
                    state_ = 3;
                } else {
                    state_ = b >= kWill ? 2 : 0;  // WILL/WONT/DO/DONT take an option
                }
                break;
            case 2:
                state_ = 0;
                break;
            case 3:
                if (b == kIac) {
                    state_ = 4;
                } else {
                    sb_ += static_cast<char>(b);
                }
                break;
            case 4:
                if (b == kSe) {
                    if (sb_.size() == 3 && sb_[0] == char(kComPort) && sb_[1] == 107)
                        notifications_.push_back(static_cast<unsigned char>(sb_[2]));
                    state_ = 0;
                } else {
                    sb_ += static_cast<char>(b);
                    state_ = 3;
                }
                break;
        }
    }

    int fd_ = -1;
    bool connected_ = false;
    bool eof_ = false;
    int state_ = 0;
    std::string data_, sb_;
    std::vector<int> notifications_;
};

const std::string kWillComPort{char(kIac), char(kWill), char(kComPort)};

TEST(SimServer, ServesTransactionsAndTheHandshake) {
    Server server({"--listen", "127.0.0.1:0", "--verbose"});
    const int port = server.Port();
    ASSERT_GT(port, 0) << server.Log();
    Client client(port);
    ASSERT_TRUE(client.Connected());
    client.Send(kWillComPort);
    EXPECT_TRUE(client.ModemState(0xF0, 0xB0));  // CTS, DSR, DCD

    client.Send("V\r");
    EXPECT_EQ(client.Data(6), "V0114\r");
    client.SendControl(12);  // RTS off
    EXPECT_TRUE(client.ModemState(0xF1, 0xA1));
    client.SendControl(11);  // RTS on
    EXPECT_TRUE(client.ModemState(0xF1, 0xB1));
    client.Send("U\r");
    const std::string uptime = client.Data(12);
    ASSERT_EQ(uptime.size(), 12u);
    EXPECT_EQ(uptime.front(), 'U');
    EXPECT_EQ(uptime.back(), '\r');
    EXPECT_TRUE(server.WaitForLog("command \"U\" -> \"U"));
}

TEST(SimServer, OneClientAtATimeAndTheNextOneAfterIt) {
    Server server({"--listen", "127.0.0.1:0"});
    const int port = server.Port();
    ASSERT_GT(port, 0) << server.Log();
    Client first(port);
    first.Send(kWillComPort + "A0100\r");
    EXPECT_EQ(first.Data(6), "A0100\r");

    Client second(port);
    EXPECT_TRUE(second.ClosedByServer());
    EXPECT_TRUE(server.WaitForLog("refused client 127.0.0.1:"));
    first.Send("I\r");
    EXPECT_EQ(first.Data(3), "IY\r");  // the first one is undisturbed

    first.Send("A0");  // half a command, then gone
    first.Close();
    EXPECT_TRUE(server.WaitForLog("disconnected"));
    Client third(port);
    third.Send(kWillComPort);
    EXPECT_TRUE(third.ModemState(0xF0, 0xB0));
    third.Send("A\r");
    EXPECT_EQ(third.Data(6), "A0100\r");  // the same device, settings kept
}

TEST(SimServer, StopsCleanlyOnSigintAndSigterm) {
    for (const int sig : {SIGINT, SIGTERM}) {
        Server server({"--listen", "127.0.0.1:0"});
        const int port = server.Port();
        ASSERT_GT(port, 0) << server.Log();
        Client client(port);
        client.Send("V\r");
        EXPECT_EQ(client.Data(6), "V0114\r");
        server.Signal(sig);
        EXPECT_EQ(server.Wait(), 0) << server.Log();
        EXPECT_NE(server.Log().find("quenta-sim: stopped"), std::string::npos);
        EXPECT_TRUE(client.ClosedByServer());
    }
}

TEST(SimServer, SwitchesReachTheDevice) {
    Server server(
        {"--listen=127.0.0.1:0", "--interlock", "open", "--seed", "9", "--fault-rate", "1"});
    const int port = server.Port();
    ASSERT_GT(port, 0) << server.Log();
    Client client(port);
    std::string replies;
    for (int i = 0; i < 8; ++i) {
        client.Send("I\r");
        replies += client.Data(3, 200);
    }
    // Every reply is faulted somehow, and the intact-looking ones say the interlock is open.
    EXPECT_EQ(replies.find("IY\r"), std::string::npos);
    EXPECT_NE(server.Log().find("seed 9, interlock open, pacing off, fault rate 1"),
              std::string::npos);
}

TEST(SimServer, CommandFaultsAndCtsFromTheCommandLine) {
    Server server({"--listen", "127.0.0.1:0", "--fault", "A:wrong-echo:1", "--fault=*:short:1",
                   "--cts", "stuck-inactive"});
    const int port = server.Port();
    ASSERT_GT(port, 0) << server.Log();
    Client client(port);
    client.Send(kWillComPort);
    EXPECT_TRUE(client.ModemState(0xF0, 0xA0));  // DSR and DCD, never CTS
    // A's own fault comes first and leaves the one for any command to V.
    client.Send("A\r");
    EXPECT_EQ(client.Data(6), "a0000\r");
    client.Send("V\r");
    EXPECT_EQ(client.Data(4), "V01\r");
    client.Send("A\rV\r");
    EXPECT_EQ(client.Data(12), "A0000\rV0114\r");
    EXPECT_NE(server.Log().find("fault on command A: wrong echo, 1 reply"), std::string::npos)
        << server.Log();
}

TEST(SimServer, PacingSpendsTheWireTimeOfEveryByte) {
    Server server({"--listen", "127.0.0.1:0", "--pace"});
    const int port = server.Port();
    ASSERT_GT(port, 0) << server.Log();
    Client client(port);
    client.Send("V\r");
    EXPECT_EQ(client.Data(6), "V0114\r");
    const auto start = Clock::now();
    client.Send("L\r");
    EXPECT_EQ(client.Data(2050).size(), 2050u);
    // 2050 bytes of 11 bits at 230400 baud take 97.9 ms; they may not come sooner.
    EXPECT_GE(Clock::now() - start, std::chrono::microseconds(97000));
}

TEST(SimServer, CommandLineErrorsAndHelp) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* text;
    };
    const Case cases[] = {
        {{"--help"}, 0, "--fault CMD:KIND[:TIMES]"},
        {{"--interlock", "ajar"}, 2, "--interlock: expected open or closed, got 'ajar'"},
        {{"--fault-rate", "1.5"}, 2, "--fault-rate: expected a number from 0 to 1"},
        {{"--seed", "-3"}, 2, "--seed: expected a non-negative integer"},
        {{"--listen", "7003"}, 2, "--listen: expected HOST:PORT"},
        {{"--listen", "127.0.0.1:70000"}, 2, "PORT 0 to 65535"},
        {{"--seed"}, 2, "--seed needs a value"},
        {{"--pace=yes"}, 2, "--pace takes no value"},
        {{"--fault", "A"}, 2, "--fault: expected CMD:KIND[:TIMES], got 'A'"},
        {{"--fault", "AB:short"}, 2, "--fault: expected CMD:KIND[:TIMES], got 'AB:short'"},
        {{"--fault", "A:short:1:2"}, 2, "--fault: expected CMD:KIND[:TIMES]"},
        {{"--fault", "a:short"}, 2, "--fault: 'a' is not a command character"},
        {{"--fault", "A:slow"}, 2, "--fault: unknown fault 'slow'"},
        {{"--fault", "A:short:0"}, 2, "--fault: TIMES must be a count from 1 up, got '0'"},
        {{"--fault", "A:short:-2"}, 2, "TIMES must be a count from 1 up, got '-2'"},
        {{"--fault", "A:short:1x"}, 2, "TIMES must be a count from 1 up, got '1x'"},
        {{"--cts", "on"}, 2, "--cts: expected stuck-inactive or stuck-active, got 'on'"},
        {{"--colour"}, 2, "unknown argument '--colour'"},
        {{"--listen", "no.such.host.invalid:0"}, 1, "cannot resolve no.such.host.invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        Server server(c.args);
        EXPECT_EQ(server.Wait(), c.status);
        EXPECT_NE(server.Log().find(c.text), std::string::npos) << server.Log();
    }
}

TEST(SimServer, APortInUseIsAClearError) {
    Server first({"--listen", "127.0.0.1:0"});
    const int port = first.Port();
    ASSERT_GT(port, 0);
    Server second({"--listen", "127.0.0.1:" + std::to_string(port)});
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Log().find("cannot listen on 127.0.0.1:" + std::to_string(port) +
                                ": Address already in use"),
              std::string::npos)
        << second.Log();
}

}  // namespace

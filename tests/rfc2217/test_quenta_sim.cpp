// The whole library over the network: libtelvar.so through its exported functions,
// TELVAR_COM<n> pointing at a quenta-sim process, commands and both purges, and the
// simulator killed in the middle of a session.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "telvar.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned short kSlot = 3;
constexpr unsigned char kCom = 9;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// One quenta-sim on a free loopback port; its log goes to a file, where the bound
// address appears as "listening on HOST:PORT". Killed when it goes out of scope.
class Simulator {
  public:
    Simulator() {
        char log[] = "/tmp/quenta-sim-log-XXXXXX";
        const int fd = mkstemp(log);
        if (fd < 0) return;
        log_ = log;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fd, STDERR_FILENO);
            execl(QUENTA_SIM, QUENTA_SIM, "--listen", "127.0.0.1:0", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fd);
        const std::string marker = "listening on 127.0.0.1:";
        for (int wait = 0; wait < 5000 && url_.empty(); ++wait) {
            std::ifstream in(log_);
            std::stringstream text;
            text << in.rdbuf();
            const std::string all = text.str();
            const auto at = all.find(marker);
            const auto end = at == std::string::npos ? at : all.find('\n', at);
            if (end != std::string::npos) {
                url_ = "rfc2217://127.0.0.1:" +
                       all.substr(at + marker.size(), end - at - marker.size());
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    ~Simulator() {
        Kill();
        if (!log_.empty()) unlink(log_.c_str());
    }
    const std::string& Url() const { return url_; }
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    std::string log_;
    std::string url_;
};

class OverQuentaSim : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(sim_.Url().empty()) << "quenta-sim did not start";
        setenv("TELVAR_COM9", sim_.Url().c_str(), 1);
    }
    void TearDown() override {
        TELVAR_Close(kSlot);
        unsetenv("TELVAR_COM9");
    }
    Simulator sim_;
};

TEST_F(OverQuentaSim, CommandsAndBothPurges) {
    ASSERT_EQ(TELVAR_Version(), 0x0114);
    ASSERT_EQ(TELVAR_Open(kSlot, kCom), 0) << TELVAR_ErrorMessage(kSlot);

    unsigned short version = 0;
    EXPECT_EQ(TELVAR_FW_Ver(kSlot, &version), 0);
    EXPECT_NE(version, 0);
    static char identification[8192];
    EXPECT_EQ(TELVAR_Prod_ID(kSlot, identification), 0);
    EXPECT_GT(std::string(identification).size(), 0u);

    double minimum = 0, maximum = 0, supply = 0;
    ASSERT_EQ(TELVAR_GetHardwareCapability(kSlot, &minimum, &maximum, &supply), 0);
    ASSERT_LT(minimum, maximum);
    double amplitude = std::round((minimum + maximum) / 2);
    const double wanted = amplitude;
    ASSERT_EQ(TELVAR_Set_Amplitude(kSlot, &amplitude), 0);
    double readBack = -1;
    ASSERT_EQ(TELVAR_Get_Amplitude(kSlot, &readBack), 0);
    EXPECT_NEAR(readBack, wanted, 0.05);

    // The host purge drops RTS and waits for CTS to follow, over the network.
    EXPECT_EQ(TELVAR_Purge(kSlot), 0) << TELVAR_ErrorMessage(kSlot);
    int purged = -1, empty = -1;
    EXPECT_EQ(TELVAR_Device_Purge(kSlot, &purged), 0);
    EXPECT_EQ(purged, 1);
    EXPECT_EQ(TELVAR_Buffer_State(kSlot, &empty), 0);
    EXPECT_EQ(empty, 1);
    unsigned int seconds = 0;
    unsigned short milliseconds = 0;
    EXPECT_EQ(TELVAR_GetUptime(kSlot, &seconds, &milliseconds), 0);

    EXPECT_EQ(TELVAR_Close(kSlot), 0);
    EXPECT_EQ(TELVAR_Close(kSlot), -3);
    // The simulator takes the next client once the first has gone.
    ASSERT_EQ(TELVAR_Open(kSlot, kCom), 0) << TELVAR_ErrorMessage(kSlot);
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &readBack), 0);
    EXPECT_EQ(TELVAR_Close(kSlot), 0);
}

TEST_F(OverQuentaSim, KilledSimulatorGivesFailuresNotHangs) {
    ASSERT_EQ(TELVAR_Open(kSlot, kCom), 0) << TELVAR_ErrorMessage(kSlot);
    double amplitude = 0;
    ASSERT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), 0);

    sim_.Kill();
    const auto start = Clock::now();
    // The status lines cannot be read, and every repair fails to raise DTR; the
    // device purge of the last repair found the lines unreadable.
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), -5);
    EXPECT_EQ(TELVAR_State(kSlot), -5);
    EXPECT_EQ(TELVAR_IO_State(kSlot), 11);
    EXPECT_EQ(TELVAR_Purge(kSlot), -5);
    int purged = -1;
    EXPECT_EQ(TELVAR_Device_Purge(kSlot, &purged), -6);
    EXPECT_EQ(purged, -1);
    // Closing still releases the port, and nothing answers at that address any more.
    EXPECT_EQ(TELVAR_Close(kSlot), 0);
    EXPECT_EQ(TELVAR_Open(kSlot, kCom), -2);
    EXPECT_LT(MsSince(start), 5000);
}

}  // namespace

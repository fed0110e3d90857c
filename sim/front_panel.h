// The front panel of the simulated device: keypad, rotary encoder and a small menu
// drawn as text into the display memory (8 rows of 128 bytes).
#pragma once

#include <cstdint>

namespace quenta_sim {

// Keypad codes.
constexpr std::uint8_t kKeyLeft = 0x01;
constexpr std::uint8_t kKeyDown = 0x02;
constexpr std::uint8_t kKeyEnter = 0x04;
constexpr std::uint8_t kKeyRight = 0x08;
constexpr std::uint8_t kKeyUp = 0x10;
// Encoder step codes: bit 3 set turns up, the low bits are the speed (0 slowest).
constexpr std::uint8_t kEncoderUp = 0x08;
constexpr std::uint8_t kEncoderSpeedMask = 0x07;

constexpr int kDisplayRows = 8;
constexpr int kDisplayRowBytes = 128;
constexpr int kDisplayBytes = kDisplayRows * kDisplayRowBytes;

// What the panel shows and may change.
struct PanelSettings {
    int amplitudeTenths = 0;
    int minAmplitudeTenths = 0;
    int maxAmplitudeTenths = 0;
    bool rfOn = false;
    bool interlockClosed = true;
    std::uint16_t firmwareVersion = 0;
};

class FrontPanel {
  public:
    enum Item { kAmplitude, kRfOutput, kInterlock, kFirmware, kItemCount };

    void Key(std::uint8_t code, PanelSettings& settings);
    void EncoderButton(PanelSettings& settings);
    void EncoderStep(std::uint8_t code, PanelSettings& settings);

    // Fills kDisplayBytes of display memory: ASCII text padded with blanks.
    void Render(const PanelSettings& settings, std::uint8_t* memory) const;

    int Selected() const { return selected_; }
    bool Editing() const { return editing_; }

  private:
    enum class Last { None, Key, Button, Encoder };

    void Select(int item);
    void Activate(PanelSettings& settings);
    static void AddAmplitude(PanelSettings& settings, int tenths);

    int selected_ = kAmplitude;
    bool editing_ = false;
    Last last_ = Last::None;
    std::uint8_t lastCode_ = 0;
};

}  // namespace quenta_sim

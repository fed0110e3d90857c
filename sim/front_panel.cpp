#include "front_panel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quenta_sim {
namespace {

constexpr int kSpeedTenths[] = {1, 10, 100, 1000};  // encoder speeds 0..3: 0.1 V .. 100 V

int StepTenths(std::uint8_t code) {
    const int speed = std::min<int>(code & kEncoderSpeedMask, 3);
    return (code & kEncoderUp) ? kSpeedTenths[speed] : -kSpeedTenths[speed];
}

void PutRow(std::uint8_t* memory, int row, const char* text) {
    std::uint8_t* line = memory + row * kDisplayRowBytes;
    std::memset(line, ' ', kDisplayRowBytes);
    const std::size_t n = std::min<std::size_t>(std::strlen(text), kDisplayRowBytes);
    std::memcpy(line, text, n);
}

}  // namespace

void FrontPanel::Select(int item) {
    selected_ = std::clamp(item, 0, kItemCount - 1);
    editing_ = false;
}

void FrontPanel::AddAmplitude(PanelSettings& s, int tenths) {
    s.amplitudeTenths =
        std::clamp(s.amplitudeTenths + tenths, s.minAmplitudeTenths, s.maxAmplitudeTenths);
}

void FrontPanel::Activate(PanelSettings& s) {
    if (selected_ == kAmplitude) editing_ = !editing_;
    if (selected_ == kRfOutput) s.rfOn = !s.rfOn;
}

void FrontPanel::Key(std::uint8_t code, PanelSettings& s) {
    last_ = Last::Key;
    lastCode_ = code;
    switch (code) {
        case kKeyUp:
            Select(selected_ - 1);
            break;
        case kKeyDown:
            Select(selected_ + 1);
            break;
        case kKeyEnter:
            Activate(s);
            break;
        case kKeyLeft:
        case kKeyRight:
            if (selected_ == kAmplitude) AddAmplitude(s, code == kKeyRight ? 10 : -10);
            if (selected_ == kRfOutput) s.rfOn = code == kKeyRight;
            break;
        default:  // other codes only show up as the last input
            break;
    }
}

void FrontPanel::EncoderButton(PanelSettings& s) {
    last_ = Last::Button;
    Activate(s);
}

void FrontPanel::EncoderStep(std::uint8_t code, PanelSettings& s) {
    last_ = Last::Encoder;
    lastCode_ = code;
    if (editing_) {
        AddAmplitude(s, StepTenths(code));
    } else {
        // Not editing, the encoder walks the menu: up towards the first item.
        const int moved = selected_ + ((code & kEncoderUp) ? -1 : 1);
        selected_ = std::clamp(moved, 0, kItemCount - 1);
    }
}

void FrontPanel::Render(const PanelSettings& s, std::uint8_t* memory) const {
    char text[kDisplayRowBytes + 1];
    auto marker = [&](int item) { return selected_ == item ? '>' : ' '; };

    PutRow(memory, 0, "QUENTA RF generator");
    PutRow(memory, 1, "");
    const int a = std::abs(s.amplitudeTenths);
    std::snprintf(text, sizeof text,
                  editing_ ? "%c Amplitude  [%s%d.%d V]" : "%c Amplitude   %s%d.%d V",
                  marker(kAmplitude), s.amplitudeTenths < 0 ? "-" : "", a / 10, a % 10);
    PutRow(memory, 2, text);
    std::snprintf(text, sizeof text, "%c RF output   %s", marker(kRfOutput), s.rfOn ? "ON" : "OFF");
    PutRow(memory, 3, text);
    std::snprintf(text, sizeof text, "%c Interlock   %s", marker(kInterlock),
                  s.interlockClosed ? "CLOSED" : "OPEN");
    PutRow(memory, 4, text);
    std::snprintf(text, sizeof text, "%c Firmware    %u.%02u", marker(kFirmware),
                  static_cast<unsigned>(s.firmwareVersion >> 8),
                  static_cast<unsigned>(s.firmwareVersion & 0xFF));
    PutRow(memory, 5, text);
    PutRow(memory, 6, "");
    switch (last_) {
        case Last::None:
            PutRow(memory, 7, "Ready");
            break;
        case Last::Key:
            std::snprintf(text, sizeof text, "Last input: key %02X", lastCode_);
            PutRow(memory, 7, text);
            break;
        case Last::Button:
            PutRow(memory, 7, "Last input: encoder button");
            break;
        case Last::Encoder:
            std::snprintf(text, sizeof text, "Last input: encoder %X", lastCode_);
            PutRow(memory, 7, text);
            break;
    }
}

}  // namespace quenta_sim

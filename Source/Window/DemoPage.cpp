#include "Window/DemoPage.h"

#include <cmath>

#include "Server/Protocol.h"
#include "Window/WindowRules.h"

namespace Velotrix {

PageInput DemoPageWithFourPhones(float scale) {
    const PixelSize size = InitialClientSize(static_cast<unsigned>(std::lround(96.0f * scale)));
    PageInput page;
    page.width = static_cast<float>(size.width);
    page.height = static_cast<float>(size.height);
    page.busConnected = true;
    page.port = 47821;
    page.computerName = L"RACING-PC";
    page.addresses = {LocalAddress{"192.168.1.20", L"Wi-Fi", true}};
    page.askFirst = true;
    page.keepInTray = true;
    page.demo = true;
    const char* const names[] = {"Maya\xE2\x80\x99s iPhone", "Leo\xE2\x80\x99s iPhone", "Sam\xE2\x80\x99s iPhone",
                                 "Ana\xE2\x80\x99s iPhone"};
    std::int32_t player = 1;
    for (const char* name : names) {
        PhoneView phone;
        phone.sessionId = static_cast<std::uint32_t>(player);
        phone.name = name;
        phone.address = "192.168.1.34";
        phone.state = static_cast<std::uint8_t>(PhoneState::Active);
        phone.player = player;
        // Steering part left, full gas, the right stick pushed right and up, two buttons held.
        phone.input.leftX = static_cast<std::int16_t>(-8000 * player);
        phone.input.rightX = 32767;
        phone.input.rightY = 32767;
        phone.input.rightTrigger = 65535;
        phone.input.buttons = 0x0101;
        phone.idle = false;
        phone.inputRate = 250;
        phone.rumbleLarge = 140;
        // A good home Wi-Fi.
        phone.jitterMs = 1.5;
        phone.longestGapMs = 24;
        page.phones.push_back(phone);
        ++player;
    }
    return page;
}

} // namespace Velotrix

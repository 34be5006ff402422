#include "Server/ServerCore.h"

namespace Velotrix {

std::vector<PhoneView> ServerCore::Snapshot() const {
    std::vector<PhoneView> views;
    views.reserve(phones.size());
    for (const auto& phone : phones) {
        PhoneView view;
        view.sessionId = phone->sessionId;
        view.idText = PhoneIdText(phone->id);
        view.name = phone->name;
        view.address = AddressText(phone->address);
        view.state = static_cast<std::uint8_t>(phone->state);
        view.player = phone->player;
        view.input = phone->input;
        view.idle = phone->idle;
        view.inputRate = static_cast<std::int32_t>(phone->inputRate);
        view.lossPercent = phone->figures.lossPercent;
        view.jitterMs = phone->figures.jitterMs;
        view.longestGapMs = phone->figures.longestGapMs;
        if (phone->pad != nullptr) {
            // One load, so both motor bytes come from the same notification.
            const Rumble rumble = phone->pad->CurrentRumble();
            view.rumbleLarge = rumble.largeMotor;
            view.rumbleSmall = rumble.smallMotor;
        }
        views.push_back(std::move(view));
    }
    return views;
}

} // namespace Velotrix

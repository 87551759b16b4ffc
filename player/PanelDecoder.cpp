#include "player/PanelDecoder.h"

#include "platform/Clock.h"

PanelDecoder::PanelDecoder(std::array<Request, 4> requests, std::function<void()> onReady) {
    for (int i = 0; i < 4; ++i) futures_[i] = promises_[i].get_future().share();
    worker_ = std::thread([this, requests = std::move(requests), onReady = std::move(onReady)] {
        LowerThreadPriority();
        for (int i = 0; i < 4; ++i) {
            if (i == 1) {
                std::unique_lock lock(mutex_);
                restAllowed_.wait(lock, [this] { return decodeTheRest_ || cancelled_; });
            }
            promises_[i].set_value(
                cancelled_ ? Picture{}
                           : LoadPicture(requests[i].path, requests[i].displaySize, &cancelled_));
            if (onReady) onReady();
        }
    });
}

PanelDecoder::~PanelDecoder() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    restAllowed_.notify_one();
    worker_.join();
}

void PanelDecoder::DecodeTheRest() {
    {
        std::lock_guard lock(mutex_);
        decodeTheRest_ = true;
    }
    restAllowed_.notify_one();
}

const Picture& PanelDecoder::Get(int index) {
    if (index > 0) DecodeTheRest();
    return futures_[index].get();
}

bool PanelDecoder::Ready(int index) const {
    return futures_[index].wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

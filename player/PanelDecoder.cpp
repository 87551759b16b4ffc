#include "player/PanelDecoder.h"

#include "platform/Desktop.h"

PanelDecoder::PanelDecoder(std::array<Request, 4> requests) {
    for (int i = 0; i < 4; ++i) futures_[i] = promises_[i].get_future().share();
    worker_ = std::thread([this, requests = std::move(requests)] {
        LowerThreadPriority();
        for (int i = 0; i < 4; ++i) {
            promises_[i].set_value(
                cancelled_ ? Picture{} : LoadPicture(requests[i].path, requests[i].displaySize));
        }
    });
}

PanelDecoder::~PanelDecoder() {
    cancelled_ = true;
    worker_.join();
}

const Picture& PanelDecoder::Get(int index) {
    return futures_[index].get();
}

bool PanelDecoder::Ready(int index) const {
    return futures_[index].wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

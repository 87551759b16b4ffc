// Decodes the four panels of a run one after another on a worker thread, each
// at the size it will be shown, so that the next panel is ready when it is due.
// Panel 1 is decoded at once; the others wait until panel 1 is on the screen,
// so that bringing it there has the processor to itself. The player never
// waits for a decoding blindly: it asks whether a panel is ready and is told
// when one becomes so; ending the run cancels what is still decoding.
#pragma once

#include "pictures/PictureLoader.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

class PanelDecoder {
  public:
    struct Request {
        QString path;
        QSize displaySize;  // empty: the picture's own size
    };

    // onReady is called on the worker thread each time a panel is decoded.
    explicit PanelDecoder(std::array<Request, 4> requests, std::function<void()> onReady = {});
    ~PanelDecoder();
    PanelDecoder(const PanelDecoder&) = delete;
    PanelDecoder& operator=(const PanelDecoder&) = delete;

    // The picture of panel index, waiting for it only if it is not decoded yet.
    // Asking for panel 2, 3 or 4 lets the rest be decoded too.
    const Picture& Get(int index);
    bool Ready(int index) const;
    // Lets panels 2 to 4 be decoded.
    void DecodeTheRest();

  private:
    std::array<std::promise<Picture>, 4> promises_;
    std::array<std::shared_future<Picture>, 4> futures_;
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::condition_variable restAllowed_;
    bool decodeTheRest_ = false;
    std::thread worker_;
};

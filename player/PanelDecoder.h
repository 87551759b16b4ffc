// Decodes the four panels of a run one after another on a worker thread, each
// at the size it will be shown, so that the next panel is ready when it is due.
#pragma once

#include "pictures/PictureLoader.h"

#include <array>
#include <atomic>
#include <future>
#include <thread>

class PanelDecoder {
  public:
    struct Request {
        QString path;
        QSize displaySize;  // empty: the picture's own size
    };

    explicit PanelDecoder(std::array<Request, 4> requests);
    ~PanelDecoder();
    PanelDecoder(const PanelDecoder&) = delete;
    PanelDecoder& operator=(const PanelDecoder&) = delete;

    // The picture of panel index, waiting for it only if it is not decoded yet.
    const Picture& Get(int index);
    bool Ready(int index) const;

  private:
    std::array<std::promise<Picture>, 4> promises_;
    std::array<std::shared_future<Picture>, 4> futures_;
    std::atomic<bool> cancelled_{false};
    std::thread worker_;
};

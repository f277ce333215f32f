#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "station/capture/audio_capture.h"

namespace capture::test {

// Runs the event loop until `done` holds or the time is up.
inline bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Lets the event loop run for a while, for checking that nothing more arrives.
inline void SpinFor(int ms) {
    SpinUntil([] { return false; }, ms);
}

// Records everything a device hands out.
struct Collector {
    std::vector<const char*> pointers;
    std::vector<int> sizes;
    std::vector<std::vector<char>> buffers;
    int starts = 0;
    int stops = 0;
    int ends = 0;
    std::string endMessage;
    std::vector<std::string> notices;
    bool wrongThread = false;
    bool openAtEnd = false;  // OnEnd must come after capture stopped
    std::function<bool(int index)> accept = [](int) { return true; };

    void Attach(TAudioDevice& device) {
        device.OnBufferFilled = [this](const char* buffer, int& size) {
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                wrongThread = true;
            pointers.push_back(buffer);
            sizes.push_back(size);
            buffers.emplace_back(buffer, buffer + size);
            return accept(static_cast<int>(buffers.size()) - 1);
        };
        device.OnStart = [this](TAudioDevice*) { ++starts; };
        device.OnStop = [this](TAudioDevice*) { ++stops; };
        device.OnNotice = [this](TAudioDevice*, const std::string& text) {
            notices.push_back(text);
        };
    }
    void Attach(TAudioCapture& capture) {
        Attach(static_cast<TAudioDevice&>(capture));
        capture.OnEnd = [this](TAudioCapture* sender, const std::string& message) {
            ++ends;
            endMessage = message;
            openAtEnd = sender->IsOpen();
        };
    }
    // All delivered bytes read as 16-bit little-endian samples.
    std::vector<std::int16_t> Samples() const {
        std::vector<std::int16_t> out;
        for (const auto& b : buffers) {
            for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
                out.push_back(
                    static_cast<std::int16_t>(static_cast<unsigned char>(b[i]) |
                                              (static_cast<unsigned char>(b[i + 1]) << 8)));
            }
        }
        return out;
    }
};

// A fresh directory under the system's temporary folder, removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "capture_test_XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace capture::test

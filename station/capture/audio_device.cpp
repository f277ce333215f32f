#include "station/capture/audio_device.h"

#include <QMetaObject>

#include <algorithm>
#include <span>

#include "station/capture/alsa_backend.h"

namespace capture {

class TAudioDevice::Context : public ReaderContext {
  public:
    explicit Context(TAudioDevice& device) : device_(device) {}
    bool StopRequested() const override { return device_.stop_.load(); }
    bool SleepUntil(std::chrono::steady_clock::time_point when) override {
        std::unique_lock lock(device_.mutex_);
        device_.wake_.wait_until(lock, when, [this] { return device_.stop_.load(); });
        return !device_.stop_.load();
    }

  private:
    TAudioDevice& device_;
};

TAudioDevice::TAudioDevice(QObject* parent) : QObject(parent) {}

TAudioDevice::~TAudioDevice() {
    // No OnStop here: its receiver may already be half destroyed.
    if (open_) {
        StopReader();
        open_ = false;
    }
}

void TAudioDevice::SetBufferSize(int bytes) {
    bufferSize_ = std::max(bytes, kMinBufferSize);
}

int TAudioDevice::UsedBufferSize() const {
    return bufferSize_ - bufferSize_ % BlockAlign();
}

void TAudioDevice::SetNumBuffers(int count) {
    numBuffers_ = std::clamp(count, kMinNumBuffers, kMaxNumBuffers);
}

void TAudioDevice::SetQuantization(int bits) {
    quantization_ = bits <= 8 ? 8 : 16;
}

std::string TAudioDevice::AlsaDeviceName() const {
    return waveDevice_ < 0 ? std::string("default") : "plughw:" + std::to_string(waveDevice_);
}

std::unique_ptr<Backend> TAudioDevice::CreateBackend() {
    return std::make_unique<AlsaBackend>(AlsaDeviceName());
}

void TAudioDevice::StreamEnded(const std::string&) {}

bool TAudioDevice::Start() {
    if (open_) {
        errorMessage_ = kAlreadyOpen;
        return false;
    }
    errorMessage_.clear();
    if (frameRate_ <= 0) {
        errorMessage_ = kStartError + ("invalid frame rate " + std::to_string(frameRate_));
        return false;
    }
    format_ = Format{frameRate_, quantization_, Channels(), UsedBufferSize()};
    auto backend = CreateBackend();
    std::string error;
    if (!backend->Open(format_, error)) {
        errorMessage_ = kStartError + error;
        return false;
    }
    backend_ = std::move(backend);
    buffers_.assign(static_cast<std::size_t>(numBuffers_),
                    std::vector<char>(static_cast<std::size_t>(format_.bufferBytes)));
    ring_.clear();
    for (int i = 0; i < numBuffers_; ++i) ring_.push_back(i);
    queuedCount_ = numBuffers_;
    overruns_ = 0;
    stop_ = false;
    open_ = true;
    reader_ = std::thread(&TAudioDevice::ReaderLoop, this, ++session_);
    if (OnStart) OnStart(this);
    return true;
}

void TAudioDevice::Stop() {
    if (!open_) return;
    StopReader();
    open_ = false;
    ++session_;  // drops buffers already posted but not yet delivered
    if (OnStop) OnStop(this);
}

void TAudioDevice::StopReader() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (reader_.joinable()) reader_.join();
    if (backend_) backend_->Close();
    backend_.reset();
    ring_.clear();
    done_.clear();
}

void TAudioDevice::ReaderLoop(std::uint64_t session) {
    Context context(*this);
    for (;;) {
        int index = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_.load() || !ring_.empty(); });
            if (stop_) return;
            index = ring_.front();
            ring_.pop_front();
        }
        std::vector<char>& buffer = buffers_[static_cast<std::size_t>(index)];
        Fill fill = backend_->Read(std::span<char>(buffer), context);
        if (stop_) return;
        if (!fill.ended && fill.bytes < buffer.size()) {
            fill.ended = true;
            fill.message = "the audio source stopped delivering samples";
        }
        // Overruns are told before the buffer that follows the gap.
        if (fill.overruns > 0) Post(Done{session, -2, {}, fill.overruns});
        if (!fill.notice.empty()) Post(Done{session, -3, std::move(fill.notice)});
        if (fill.bytes > 0) {
            // A short last block is padded with silence rather than handing out stale samples.
            const char silence = format_.bits == 8 ? char(0x80) : char(0);
            std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(fill.bytes), buffer.end(),
                      silence);
            Post(Done{session, index, {}});
        }
        if (fill.ended) {
            Post(Done{session, -1, std::move(fill.message)});
            return;
        }
    }
}

void TAudioDevice::Post(Done done) {
    {
        std::lock_guard lock(mutex_);
        done_.push_back(std::move(done));
    }
    // The hand-off itself goes through done_ under our own lock; the queued call only wakes
    // the owner's thread.
    QMetaObject::invokeMethod(this, "DrainReader", Qt::QueuedConnection);
}

void TAudioDevice::DrainReader() {
    for (;;) {
        Done done;
        {
            std::lock_guard lock(mutex_);
            if (done_.empty()) return;
            done = std::move(done_.front());
            done_.pop_front();
        }
        if (done.index >= 0) {
            Deliver(done.session, done.index);
        } else if (done.index == -2) {
            Overran(done.session, done.overruns);
        } else if (done.index == -3) {
            if (open_ && done.session == session_ && OnNotice) OnNotice(this, done.message);
        } else {
            Ended(done.session, done.message);
        }
    }
}

void TAudioDevice::Deliver(std::uint64_t session, int index) {
    if (!open_ || session != session_) return;
    --queuedCount_;
    int size = format_.bufferBytes;
    // The buffer that was filled is the one delivered, so a buffer the handler kept back is
    // never handed out again with stale samples.
    const bool requeue =
        OnBufferFilled ? OnBufferFilled(buffers_[static_cast<std::size_t>(index)].data(), size)
                       : true;
    if (!open_ || session != session_) return;  // the handler stopped or restarted capture
    if (requeue) {
        {
            std::lock_guard lock(mutex_);
            ring_.push_back(index);
        }
        ++queuedCount_;
        wake_.notify_all();
    }
    if (queuedCount_ == 0) Stop();
}

void TAudioDevice::Overran(std::uint64_t session, int count) {
    if (!open_ || session != session_) return;
    overruns_ += count;
    if (OnOverrun) OnOverrun(this, overruns_);
}

void TAudioDevice::Ended(std::uint64_t session, const std::string& message) {
    if (!open_ || session != session_) return;
    Stop();
    StreamEnded(message);
}

}  // namespace capture

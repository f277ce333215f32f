#include "station/capture/stdin_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace capture {
namespace {

constexpr int kPollMs = 100;  // how long a read waits before looking at the stop flag

}  // namespace

bool StdinBackend::OpenSource(std::string& error, double& rate) {
    if (fcntl(fd_, F_GETFD) < 0) {
        error = "standard input is not open";
        return false;
    }
    rate = kRate;
    haveOddByte_ = false;
    return true;
}

std::size_t StdinBackend::ReadMono(float* out, std::size_t count, ReaderContext& context,
                                   End& end) {
    const std::size_t samples = Fill(count, context, end);
    for (std::size_t i = 0; i < samples; ++i) out[i] = static_cast<float>(Sample(i)) / 32768.0f;
    return samples;
}

std::size_t StdinBackend::ReadPcm16(std::int16_t* out, std::size_t count, ReaderContext& context,
                                    End& end) {
    const std::size_t samples = Fill(count, context, end);
    for (std::size_t i = 0; i < samples; ++i) out[i] = Sample(i);
    return samples;
}

// Reads up to `count` whole samples into bytes_; a byte left over waits for the next read.
std::size_t StdinBackend::Fill(std::size_t count, ReaderContext& context, End& end) {
    bytes_.resize(count * 2);
    for (;;) {
        if (context.StopRequested()) return 0;
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, kPollMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        std::size_t have = 0;
        if (haveOddByte_) bytes_[have++] = oddByte_;
        const ssize_t got = ready < 0 ? -1 : read(fd_, bytes_.data() + have, bytes_.size() - have);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            // A half sample left at the end is dropped.
            end.ended = true;
            end.message =
                got == 0 ? "end of standard input"
                         : std::string("error reading standard input: ") + std::strerror(errno);
            return 0;
        }
        have += static_cast<std::size_t>(got);
        const std::size_t samples = have / 2;
        haveOddByte_ = have % 2 != 0;
        if (haveOddByte_) oddByte_ = bytes_[have - 1];
        if (samples > 0) return samples;
    }
}

}  // namespace capture

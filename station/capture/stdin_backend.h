#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/capture/pcm_backend.h"

namespace capture {

// Raw signed 16-bit little-endian mono at 12000 Hz from a file descriptor (standard input), as
// SDR programs pipe it out.
class StdinBackend : public PcmBackend {
  public:
    static constexpr double kRate = 12000.0;  // frames per second

    StdinBackend(int fd, bool realtime) : PcmBackend(realtime), fd_(fd) {}

  protected:
    bool OpenSource(std::string& error, double& rate) override;
    std::size_t ReadMono(float* out, std::size_t count, ReaderContext& context, End& end) override;
    bool HasPcm16() const override { return true; }
    std::size_t ReadPcm16(std::int16_t* out, std::size_t count, ReaderContext& context,
                          End& end) override;

  private:
    std::size_t Fill(std::size_t count, ReaderContext& context, End& end);
    std::int16_t Sample(std::size_t i) const {
        return static_cast<std::int16_t>(bytes_[2 * i] | (bytes_[2 * i + 1] << 8));
    }

    int fd_;
    std::vector<unsigned char> bytes_;
    bool haveOddByte_ = false;  // a sample split across two reads
    unsigned char oddByte_ = 0;
};

}  // namespace capture

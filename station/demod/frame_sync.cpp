#include "station/demod/frame_sync.h"

#include <cstdio>

#include "station/demod/crc16.h"

namespace demod {

std::string Label3Text(std::uint16_t received, std::uint16_t computed) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X    %04X", received, computed);
    return buf;
}

FrameSync::FrameSync(FrameHandler handler) : handler_(std::move(handler)) {
    frame_.gps.reserve(kMaxSentence + 3);  // sentence plus "*" digits: no allocation per byte
}

void FrameSync::OnBit(int bit) noexcept {
    // The start bit is sampled by the demodulator's own bit clock: no re-timing on its edge.
    switch (bitState_) {
        case 0:
            if (bit == 0) {
                shift_ = 0;
                bitState_ = 1;
            }
            break;
        case 1:
            if (bit) shift_ |= 0x80;
            bitState_ = 2;
            break;
        case 9:
            bitState_ = 0;
            if (bit) OnByte(shift_);  // a stop bit of 0 is a framing error: the byte is dropped
            break;
        default:
            shift_ = static_cast<std::uint8_t>(shift_ >> 1);
            if (bit) shift_ |= 0x80;
            ++bitState_;
            break;
    }
}

void FrameSync::OnByte(std::uint8_t b, const std::array<float, 8>& reliability) noexcept {
    // Bytes are recorded from the first after the sync up to the checksum's last, which
    // completes the frame inside OnByte: so before it.
    if (frameState_ == 4) soft_.size = 0;
    if (frameState_ >= 5 && soft_.size < SoftFrame::kMaxBytes) {
        soft_.bytes[soft_.size] = b;
        soft_.reliability[soft_.size] = reliability;
        ++soft_.size;
    }
    OnByte(b);
}

void FrameSync::OnByte(std::uint8_t b) noexcept {
    switch (frameState_) {
        case 0:
            if (b == kSync[0]) frameState_ = 1;
            break;
        case 1:
        case 2:
        case 3:
            // A mismatch is not re-tested as a first sync byte.
            frameState_ = (b == kSync[frameState_]) ? frameState_ + 1 : 0;
            break;
        case 4:
            frameState_ = (b == kSync[4]) ? 5 : 0;
            frame_.gps.clear();
            crc_ = 0;
            break;
        case 5:
            crc_ = Crc16ArcUpdate(crc_, b);
            frame_.gps.push_back(static_cast<char>(b));
            if (b == '*') {
                frameState_ = 6;
            } else if (frame_.gps.size() > kMaxSentence) {
                frameState_ = 0;
            }
            break;
        case 6:
            crc_ = Crc16ArcUpdate(crc_, b);
            frame_.gps.push_back(static_cast<char>(b));
            frameState_ = 7;
            break;
        case 7:
            crc_ = Crc16ArcUpdate(crc_, b);
            frame_.gps.push_back(static_cast<char>(b));
            frameState_ = 8;
            dataIndex_ = 1;
            break;
        case 8:
            crc_ = Crc16ArcUpdate(crc_, b);
            data_[dataIndex_++] = b;
            if (dataIndex_ > 32) {
                for (int k = 0; k < 16; ++k)
                    frame_.words[k] =
                        static_cast<std::uint16_t>(data_[2 * k + 1] * 256 + data_[2 * k + 2]);
                frameState_ = 9;
            }
            break;
        case 9:
            data_[dataIndex_++] = b;
            if (dataIndex_ > 34) {
                frame_.received = static_cast<std::uint16_t>(data_[33] * 256 + data_[34]);
                frame_.computed = crc_;
                frame_.checksumOk = frame_.received == frame_.computed;
                frameState_ = 0;
                if (handler_) handler_(frame_);
            }
            break;
        default:
            frameState_ = 0;
            break;
    }
}

}  // namespace demod

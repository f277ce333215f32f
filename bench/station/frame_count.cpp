// frame_count: cuts a byte stream (standard input, as another receiver wrote it) into probe
// frames with the station's own frame synchroniser and prints "good=N bad=M".
#include <cstdio>

#include "station/demod/frame_sync.h"

int main() {
    int good = 0, bad = 0;
    demod::FrameSync sync([&](const demod::Frame& f) { ++(f.checksumOk ? good : bad); });
    for (int c = std::getchar(); c != EOF; c = std::getchar())
        sync.OnByte(static_cast<std::uint8_t>(c));
    std::printf("good=%d bad=%d\n", good, bad);
    return 0;
}

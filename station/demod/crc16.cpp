#include "station/demod/crc16.h"

// The check value of the CRC catalogue; a wrong table or bit order fails the build.
static_assert(demod::Crc16Arc("123456789") == 0xBB3D);

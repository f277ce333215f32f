#include "common/record.h"

#include "common/numbers.h"
#include "common/text.h"

namespace common {

namespace {

template <typename T>
Reading<T> Number(const std::string& text, const std::optional<T>& value) {
    if (Trim(text).empty()) return {};
    if (!value) return {FieldState::NotANumber, std::nullopt};
    return {FieldState::Valid, value};
}

}  // namespace

std::string DataLine::Field(int n) const {
    return ExtractField(text, n, ',');
}

RelayedRecord ReadRelayedRecord(std::string_view record) {
    RelayedRecord r;
    r.text = std::string(record);
    r.station = ExtractField(record, 1, ';');
    r.locator = ExtractField(record, 2, ';');
    r.sentence = ExtractField(record, 3, ';');
    r.gga = ReadGga(r.sentence);

    r.data.text = ExtractField(record, 4, ';');
    const std::string battery = r.data.Field(3), inside = r.data.Field(14),
                      outside = r.data.Field(15), pressure = r.data.Field(16);
    r.data.batteryRaw = Number(battery, ParseDouble(battery));
    r.data.insideRaw = Number(inside, ParseInt(inside));
    r.data.outsideRaw = Number(outside, ParseInt(outside));
    r.data.pressureRaw = Number(pressure, ParseDouble(pressure));

    r.counted.time = ExtractField(record, 2, ',');
    r.counted.latitude = ExtractField(record, 3, ',');
    r.counted.longitude = ExtractField(record, 5, ',');
    r.counted.satellites = ExtractField(record, 8, ',');
    r.counted.altitude = ExtractField(record, 10, ',');
    return r;
}

}  // namespace common

// The headless --estimates output: after each record line, the chase analytics' estimate line
// for the same record.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string_view>

#include "monitor/chase/flight_analytics.h"
#include "monitor/core/stream_reader.h"

namespace monitor {

class EstimatePrinter {
  public:
    using Hook = std::function<void(const RecordResult&)>;

    EstimatePrinter(const AnalyticsSettings& settings, std::string_view homeLocator,
                    std::ostream& out)
        : analytics_(settings, homeLocator), out_(out) {}

    // Takes the record and prints its line, flushed so that a pipe sees it at once.
    void Record(const RecordResult& record);
    // A record hook that runs `inner` (when set) and then prints.
    Hook After(Hook inner);

    const FlightAnalytics& Analytics() const { return analytics_; }
    FlightAnalytics& Analytics() { return analytics_; }

  private:
    FlightAnalytics analytics_;
    std::ostream& out_;
    std::size_t count_ = 0;
};

}  // namespace monitor

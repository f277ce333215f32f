// pelmora --predict: a whole flight from a launch point and time with a weather model's winds,
// before launch, as lines: trajectory= every 60 s of flight and one prediction=0.
#pragma once

#include <iosfwd>

#include "monitor/chase/chase_settings.h"
#include "monitor/options.h"

namespace monitor {

// trajectory=K, utc, lat, lon and alt, tab-separated; one line with "\n".
std::string FormatTrajectoryLine(int k, const TrajectoryPoint& p);

// The exit code: 0, or 1 after saying why the file or the winds would not do.
int RunPredict(const LaunchAt& launch, const ChaseSettings& chase, std::ostream& out,
               std::ostream& err);

}  // namespace monitor

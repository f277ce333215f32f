#include "monitor/chase/estimate_printer.h"

#include <ostream>

namespace monitor {

void EstimatePrinter::Record(const RecordResult& record) {
    analytics_.AddRecord(record.record);
    out_ << FormatEstimateLine(++count_, analytics_.State()) << std::flush;
}

EstimatePrinter::Hook EstimatePrinter::After(Hook inner) {
    return [this, inner = std::move(inner)](const RecordResult& r) {
        if (inner) inner(r);
        Record(r);
    };
}

}  // namespace monitor

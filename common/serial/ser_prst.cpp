#include "common/serial/ser_prst.h"

namespace common {

bool TSerFlowControl::AssignFields(const TSerPersistent& source) {
    const auto* other = dynamic_cast<const TSerFlowControl*>(&source);
    if (other == nullptr) return false;
    SetOutCtsFlow(other->out_cts_flow_);
    SetOutDsrFlow(other->out_dsr_flow_);
    SetControlDtr(other->control_dtr_);
    SetControlRts(other->control_rts_);
    SetXonXoffOut(other->xon_xoff_out_);
    SetXonXoffIn(other->xon_xoff_in_);
    SetDsrSensitivity(other->dsr_sensitivity_);
    SetTxContinueOnXoff(other->tx_continue_on_xoff_);
    return true;
}

bool TSerEventChars::AssignFields(const TSerPersistent& source) {
    const auto* other = dynamic_cast<const TSerEventChars*>(&source);
    if (other == nullptr) return false;
    SetXonChar(other->xon_char_);
    SetXoffChar(other->xoff_char_);
    SetErrorChar(other->error_char_);
    SetEventChar(other->event_char_);
    SetEofChar(other->eof_char_);
    return true;
}

void TSerBuffers::SetReadSize(TSerIntW bytes) {
    if (read_size_ == bytes) return;
    read_size_ = bytes;
    Changed();
}

void TSerBuffers::SetWriteSize(TSerIntW bytes) {
    if (write_size_ == bytes) return;
    write_size_ = bytes;
    Changed();
}

bool TSerBuffers::AssignFields(const TSerPersistent& source) {
    const auto* other = dynamic_cast<const TSerBuffers*>(&source);
    if (other == nullptr) return false;
    SetReadSize(other->read_size_);
    SetWriteSize(other->write_size_);
    read_timeout_ = other->read_timeout_;
    write_timeout_ = other->write_timeout_;
    return true;
}

}  // namespace common

// Option objects of the serial component. Each reports changes to its owner through the
// change callback of TSerPersistent.
#pragma once

#include <cstdint>

#include "common/serial/ser_classes.h"

namespace common {

enum TSerDtrControl { dtrDisabled, dtrEnabled, dtrHandshake };
enum TSerRtsControl { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

// Each setter notifies only when the value changes.
class TSerFlowControl : public TSerPersistent {
  public:
    bool OutCtsFlow() const { return out_cts_flow_; }
    bool OutDsrFlow() const { return out_dsr_flow_; }
    TSerDtrControl ControlDtr() const { return control_dtr_; }
    TSerRtsControl ControlRts() const { return control_rts_; }
    bool XonXoffOut() const { return xon_xoff_out_; }
    bool XonXoffIn() const { return xon_xoff_in_; }
    bool DsrSensitivity() const { return dsr_sensitivity_; }
    bool TxContinueOnXoff() const { return tx_continue_on_xoff_; }

    void SetOutCtsFlow(bool value) { Set(out_cts_flow_, value); }
    void SetOutDsrFlow(bool value) { Set(out_dsr_flow_, value); }
    void SetControlDtr(TSerDtrControl value) { Set(control_dtr_, value); }
    void SetControlRts(TSerRtsControl value) { Set(control_rts_, value); }
    void SetXonXoffOut(bool value) { Set(xon_xoff_out_, value); }
    void SetXonXoffIn(bool value) { Set(xon_xoff_in_, value); }
    void SetDsrSensitivity(bool value) { Set(dsr_sensitivity_, value); }
    void SetTxContinueOnXoff(bool value) { Set(tx_continue_on_xoff_, value); }

  protected:
    bool AssignFields(const TSerPersistent& source) override;

  private:
    template <typename T>
    void Set(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }

    bool out_cts_flow_ = false;
    bool out_dsr_flow_ = false;
    TSerDtrControl control_dtr_ = dtrDisabled;
    TSerRtsControl control_rts_ = rtsDisabled;
    bool xon_xoff_out_ = false;
    bool xon_xoff_in_ = false;
    bool dsr_sensitivity_ = false;
    bool tx_continue_on_xoff_ = false;
};

// Each setter stores and always notifies, even when the value is unchanged.
class TSerEventChars : public TSerPersistent {
  public:
    char XonChar() const { return xon_char_; }
    char XoffChar() const { return xoff_char_; }
    char ErrorChar() const { return error_char_; }
    char EventChar() const { return event_char_; }
    char EofChar() const { return eof_char_; }

    void SetXonChar(char value) { Set(xon_char_, value); }
    void SetXoffChar(char value) { Set(xoff_char_, value); }
    void SetErrorChar(char value) { Set(error_char_, value); }
    void SetEventChar(char value) { Set(event_char_, value); }
    void SetEofChar(char value) { Set(eof_char_, value); }

  protected:
    bool AssignFields(const TSerPersistent& source) override;

  private:
    void Set(char& field, char value) {
        field = value;
        Changed();
    }

    char xon_char_ = 17;
    char xoff_char_ = 19;
    char error_char_ = 0;
    char event_char_ = 0;
    char eof_char_ = 0;
};

using TSerIntW = std::int32_t;

// Queue sizes in bytes and timeouts in ms. Only the two sizes notify the owner (it refuses
// them while the port is open); the timeouts are read when used.
class TSerBuffers : public TSerPersistent {
  public:
    TSerIntW ReadSize() const { return read_size_; }
    TSerIntW WriteSize() const { return write_size_; }
    TSerIntW ReadTimeout() const { return read_timeout_; }
    TSerIntW WriteTimeout() const { return write_timeout_; }

    void SetReadSize(TSerIntW bytes);
    void SetWriteSize(TSerIntW bytes);
    void SetReadTimeout(TSerIntW ms) { read_timeout_ = ms; }
    void SetWriteTimeout(TSerIntW ms) { write_timeout_ = ms; }

  protected:
    bool AssignFields(const TSerPersistent& source) override;

  private:
    TSerIntW read_size_ = 4096;
    TSerIntW write_size_ = 2048;
    TSerIntW read_timeout_ = 1000;
    TSerIntW write_timeout_ = 1000;
};

}  // namespace common

// What the receiver does with each byte that arrives and with its reset line:
// held in reset by DTR, otherwise running and listening for a wake sequence,
// or busy in the service mode or the boot loader.
#include "virtual_receiver/receiver_state.h"

namespace {

const uint8_t WAKE_FIRST = 0xF3;
const int WAKE_BYTES = 12;  // 0xF3 to 0xFE; then 0x55 or 0xFF decides
const uint8_t SERVICE_WAKE = 0x55;
const uint8_t BOOT_WAKE = 0xFF;

bool line_is_standard(const VrLine &line) {
  return line.baud == 38400 && line.byte_size == 8 && line.parity == NOPARITY &&
         line.stop_bits == ONESTOPBIT;
}

// Bytes that make up no wake sequence only pass by.
void running_byte(VirtualReceiver *vr, uint8_t byte, int64_t at_us) {
  if (vr->wake_count == WAKE_BYTES && byte == SERVICE_WAKE) {
    vr_enter_service_mode(vr, at_us);
  } else if (vr->wake_count == WAKE_BYTES && byte == BOOT_WAKE) {
    vr_enter_boot_loader(vr, at_us);
  } else if (vr->wake_count < WAKE_BYTES && byte == WAKE_FIRST + vr->wake_count) {
    ++vr->wake_count;
    return;
  } else if (byte == WAKE_FIRST) {
    vr->wake_count = 1;
    return;
  }
  vr->wake_count = 0;
}

}  // namespace

void vr_receive_byte(VirtualReceiver *vr, uint8_t byte, int64_t at_us) {
  char hex[3];
  snprintf(hex, sizeof hex, "%02X", byte);
  vr_record(vr, at_us, "TX", hex);
  if (vr->options.absent || vr->state == VR_RESET) return;
  if (!line_is_standard(vr->line)) {
    // The real receiver would see garbage; we say so and drop the byte.
    vr_error(vr, at_us, "byte at %s", vr_line_settings_text(vr->line).c_str());
    return;
  }
  switch (vr->state) {
    case VR_SERVICE:
      vr_service_byte(vr, byte, at_us);
      break;
    case VR_BOOTLOADER:
      vr_boot_byte(vr, byte, at_us);
      break;
    default:
      running_byte(vr, byte, at_us);
      break;
  }
}

void vr_hold_in_reset(VirtualReceiver *vr, bool held, int64_t at_us) {
  if (vr->options.absent) return;
  if (held == (vr->state == VR_RESET)) return;
  // Whatever the receiver was doing is lost in a reset.
  vr->wake_count = 0;
  vr->command_length = 0;
  vr_take_answer_off(vr, at_us);
  vr_set_state(vr, at_us, held ? VR_RESET : VR_RUNNING);
}

// The service mode: every four bytes are a command (bank, index, data,
// opcode); the receiver answers yes-or-no questions on DSR.
#include "virtual_receiver/receiver_state.h"

namespace {

const uint8_t QUERY_BIT = 0xB0;
const uint8_t VERIFY = 0xAF;
const uint8_t WRITE = 0xAE;
const uint8_t QUIT = 0xEE;
// The real receiver needs this long after the opcode to set DSR.
const int64_t ANSWER_DELAY_US = 1000;

void give_answer(VirtualReceiver *vr, bool answer, int64_t at_us) {
  vr->answer = answer;
  vr->answer_standing = true;
  vr->opcode_us = at_us;
  vr_drive_dsr(vr, at_us + ANSWER_DELAY_US + vr_draw_jitter(vr), answer);
}

bool is_single_bit(uint8_t mask) {
  return mask != 0 && (mask & (mask - 1)) == 0;
}

void query_bit(VirtualReceiver *vr, uint8_t cv, uint8_t mask, int64_t at_us) {
  if (!is_single_bit(mask)) {
    vr_error(vr, at_us, "query mask %02X has not exactly one bit set", mask);
    give_answer(vr, false, at_us);
    return;
  }
  give_answer(vr, (cv & mask) != 0, at_us);
}

void verify(VirtualReceiver *vr, uint8_t cv, uint8_t data, int64_t at_us) {
  ++vr->verify_count;
  bool failing = vr->options.fail_every > 0 && vr->verify_count % vr->options.fail_every == 0;
  give_answer(vr, data == cv && !failing, at_us);
}

void write_cv(VirtualReceiver *vr, int bank, int index, uint8_t data, int64_t at_us) {
  vr->cvs[bank][index] = data;
  DWORD error = vr_save_cvs(vr);
  if (error != ERROR_SUCCESS) {
    vr_error(vr, at_us, "cvs.txt not written (Win32 error %lu)", (unsigned long)error);
  }
}

bool is_quit(const uint8_t *command) {
  return command[0] == QUIT && command[1] == QUIT && command[2] == QUIT && command[3] == QUIT;
}

void cv_command(VirtualReceiver *vr, const uint8_t *c, int64_t at_us) {
  if (c[0] > 1) {
    vr_error(vr, at_us, "bank %02X in command %02X %02X %02X %02X", c[0], c[0], c[1], c[2], c[3]);
    return;
  }
  uint8_t cv = vr->cvs[c[0]][c[1]];
  if (c[3] == QUERY_BIT) {
    query_bit(vr, cv, c[2], at_us);
  } else if (c[3] == VERIFY) {
    verify(vr, cv, c[2], at_us);
  } else if (c[3] == WRITE) {
    write_cv(vr, c[0], c[1], c[2], at_us);
  } else {
    vr_error(vr, at_us, "unknown command %02X %02X %02X %02X", c[0], c[1], c[2], c[3]);
  }
}

void run_command(VirtualReceiver *vr, int64_t at_us) {
  if (is_quit(vr->command)) {
    vr_set_state(vr, at_us, VR_RUNNING);
  } else {
    cv_command(vr, vr->command, at_us);
  }
}

}  // namespace

void vr_enter_service_mode(VirtualReceiver *vr, int64_t at_us) {
  vr->command_length = 0;
  vr_take_answer_off(vr, at_us);
  vr_set_state(vr, at_us, VR_SERVICE);
}

void vr_take_answer_off(VirtualReceiver *vr, int64_t at_us) {
  vr->answer_standing = false;
  vr_drive_dsr(vr, at_us, false);
}

void vr_service_byte(VirtualReceiver *vr, uint8_t byte, int64_t at_us) {
  // A new command takes the answer to the last one off the line.
  vr_take_answer_off(vr, at_us);
  vr->command[vr->command_length++] = byte;
  if (vr->command_length < 4) return;
  vr->command_length = 0;
  run_command(vr, at_us);
}

bool vr_service_answer(VirtualReceiver *vr, int64_t now_us) {
  if (vr->state != VR_SERVICE || !vr->answer_standing) return false;
  int64_t since_us = now_us - vr->opcode_us;
  if (since_us < ANSWER_DELAY_US) {
    vr_error(vr, now_us, "DSR sampled %lld us after the opcode", (long long)since_us);
    return false;
  }
  return vr->answer;
}

bool vr_service_answer_from(VirtualReceiver *vr, int64_t *from_us) {
  if (vr->state != VR_SERVICE || !vr->answer_standing) return false;
  *from_us = vr->opcode_us + ANSWER_DELAY_US;
  return vr->answer;
}

// The boot loader: '!', the handshake byte, the count-up 0x00 to 0xFF, then
// records: 'u' with a page number and a page of data, 0xCC, and '3' which
// ends the update and writes flash.bin.
#include <algorithm>

#include "virtual_receiver/receiver_state.h"

namespace {

const uint8_t BANG = '!';
const uint8_t PAGE_RECORD = 'u';
const uint8_t SINGLE_RECORD = 0xCC;
const uint8_t END_RECORD = '3';
const uint8_t ERASED = 0xFF;

void expect_bang(VirtualReceiver *vr, uint8_t byte, int64_t at_us) {
  if (byte != BANG) {
    vr_error(vr, at_us, "boot loader expected 21 ('!'), got %02X", byte);
    return;
  }
  vr->boot_phase = VR_BOOT_HANDSHAKE;
}

void count_up(VirtualReceiver *vr, uint8_t byte, int64_t at_us) {
  if (byte != vr->boot_count) {
    vr_error(vr, at_us, "count-up byte %02X where %02X was due", byte, vr->boot_count);
  }
  // One wrong byte makes one ERR line, not one for every byte after it.
  if (++vr->boot_count == 256) vr->boot_phase = VR_BOOT_RECORD;
}

void program_page(VirtualReceiver *vr) {
  size_t size = (size_t)vr->options.page_size;
  size_t offset = vr->page[0] * size;
  if (vr->flash.size() < offset + size) vr->flash.resize(offset + size, ERASED);
  std::copy(vr->page.begin() + 1, vr->page.end(), vr->flash.begin() + offset);
}

void page_body(VirtualReceiver *vr, uint8_t byte) {
  vr->page.push_back(byte);
  if ((int)vr->page.size() < 1 + vr->options.page_size) return;
  program_page(vr);
  vr->boot_phase = VR_BOOT_RECORD;
}

void end_update(VirtualReceiver *vr, int64_t at_us) {
  DWORD error = vr_save_flash(vr);
  if (error != ERROR_SUCCESS) {
    vr_error(vr, at_us, "flash.bin not written (Win32 error %lu)", (unsigned long)error);
  }
  vr_set_state(vr, at_us, VR_RUNNING);
}

void record(VirtualReceiver *vr, uint8_t byte, int64_t at_us) {
  if (byte == PAGE_RECORD) {
    vr->page.clear();
    vr->boot_phase = VR_BOOT_PAGE_BODY;
  } else if (byte == END_RECORD) {
    end_update(vr, at_us);
  } else if (byte != SINGLE_RECORD) {
    vr_error(vr, at_us, "record lead byte %02X", byte);
  }
}

}  // namespace

void vr_enter_boot_loader(VirtualReceiver *vr, int64_t at_us) {
  vr->boot_phase = VR_BOOT_BANG;
  vr->boot_count = 0;
  vr_set_state(vr, at_us, VR_BOOTLOADER);
}

void vr_boot_byte(VirtualReceiver *vr, uint8_t byte, int64_t at_us) {
  switch (vr->boot_phase) {
    case VR_BOOT_BANG:
      expect_bang(vr, byte, at_us);
      break;
    case VR_BOOT_HANDSHAKE:
      vr->boot_phase = VR_BOOT_COUNT_UP;
      break;
    case VR_BOOT_COUNT_UP:
      count_up(vr, byte, at_us);
      break;
    case VR_BOOT_RECORD:
      record(vr, byte, at_us);
      break;
    case VR_BOOT_PAGE_BODY:
      page_body(vr, byte);
      break;
  }
}

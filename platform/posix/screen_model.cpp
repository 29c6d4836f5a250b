// The screen model and its rendering as ANSI/xterm sequences.
//
// The terminal's own line wrap is switched off with the first output: the
// model wraps (or not, as the output mode says) and sends the line breaks
// itself, so the terminal's cursor always follows the model's.
#include "platform/posix/screen_model.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/code_page_850.h"
#include "platform/posix/terminal_posix.h"

namespace {

const WORD default_attribute = 0x07;  // what a fresh console starts with
// A fresh console's cursor size; on a terminal it stands for the terminal's
// own cursor shape, which stays until the program asks for another.
const DWORD initial_cursor_size = 25;
const WORD unknown_attribute = 0xFFFF;

// The right half of a wide character: the terminal shows nothing of its own there.
const uint32_t wide_right_half = 0xFFFFFFFF;

// A cell holds a code page 850 character, or (unicode non-zero) a character
// that came as UTF-8 and goes out as it came, with a combining mark if one followed.
struct cell {
  char character;
  WORD attribute;
  uint32_t unicode;
  uint32_t mark;
};

bool is_blank(const cell &c) {
  return c.character == ' ' && c.unicode == 0;
}

// Both constant-initialised: text may be printed before main, from any
// constructor, and the model must be usable then.
std::mutex model_mutex;
bool ready = false;
int width = 80;
int height = 25;
// Never destroyed: the port's reader thread may still print while the process
// exits, after the static destructors have run.
std::unique_ptr<cell[]> &cells = *new std::unique_ptr<cell[]>;
int cursor_x = 0;
int cursor_y = 0;
WORD attribute = default_attribute;
int wrap = 1;
DWORD cursor_size = initial_cursor_size;
int cursor_visible = 1;
int terminal = 0;
// The program places the cursor or fills cells: it draws a screen (tarvel),
// rather than printing lines (morrex), and its screen is drawn again after a
// stop or a new window size.
bool placed = false;
// What the terminal has been told so far.
WORD shown_attribute = default_attribute;
bool autowrap_off = false;

cell &cell_at(int x, int y) {
  return cells[(size_t)y * (size_t)width + (size_t)x];
}

// ---------------------------------------------------------------- output pieces

void emit_start(std::string *out) {
  if (terminal && !autowrap_off) {
    *out += "\x1b[?7l";  // the model wraps, the terminal must not
    autowrap_off = true;
  }
}

void emit_colour(WORD wanted, std::string *out) {
  if (!terminal || wanted == shown_attribute) return;
  *out += screen_colour_sequence(wanted);
  shown_attribute = wanted;
}

void emit_cursor_shape(std::string *out) {
  if (cursor_size == initial_cursor_size) {
    *out += "\x1b[0 q";  // the terminal's own
  } else {
    *out += cursor_size >= 50 ? "\x1b[2 q" : "\x1b[4 q";  // steady block, steady underline
  }
}

void emit_goto(int x, int y, std::string *out) {
  if (!terminal) return;
  char text[32];
  snprintf(text, sizeof text, "\x1b[%d;%dH", y + 1, x + 1);
  *out += text;
}

void emit_unicode(uint32_t code_point, std::string *out) {
  char utf8[4];
  out->append(utf8, (size_t)unicode_to_utf8(code_point, utf8));
}

void emit_glyph(const cell &shown, std::string *out) {
  if (shown.unicode == wide_right_half) return;
  if (shown.unicode == 0) {
    char utf8[3];
    int length = cp850_to_utf8((unsigned char)shown.character, terminal != 0, utf8);
    out->append(utf8, (size_t)length);
    return;
  }
  emit_unicode(shown.unicode, out);
  if (shown.mark != 0) emit_unicode(shown.mark, out);
}

// ---------------------------------------------------------------- cursor movement

size_t cell_count(void) {
  return (size_t)width * (size_t)height;
}

void scroll_up(void) {
  std::copy(cells.get() + width, cells.get() + cell_count(), cells.get());
  std::fill(cells.get() + cell_count() - width, cells.get() + cell_count(),
            cell{' ', attribute, 0, 0});
}

void line_feed(std::string *out) {
  cursor_x = 0;
  if (cursor_y == height - 1) {
    emit_colour(attribute, out);  // the terminal fills the new row in its current colour
    scroll_up();
  } else {
    cursor_y++;
  }
  *out += terminal ? "\r\n" : "\n";
}

void advance(std::string *out) {
  if (cursor_x < width - 1) {
    cursor_x++;
  } else if (wrap) {
    line_feed(out);
  }
  // Without wrap the cursor stays in the last column and the next character
  // overwrites it; the terminal, its own wrap off, does the same.
}

// A cell about to be written may hold half of a wide character: the terminal
// blanks the other half, and so does the model, so that a redraw sends one
// glyph for each cell again.
void split_wide_character(int x, int y) {
  if (cell_at(x, y).unicode == wide_right_half && x > 0) {
    cell_at(x - 1, y) = cell{' ', cell_at(x - 1, y).attribute, 0, 0};
  }
  if (x + 1 < width && cell_at(x + 1, y).unicode == wide_right_half) {
    cell_at(x + 1, y) = cell{' ', cell_at(x + 1, y).attribute, 0, 0};
  }
}

void put_cell(const cell &written, std::string *out) {
  split_wide_character(cursor_x, cursor_y);
  cell_at(cursor_x, cursor_y) = written;
  emit_colour(attribute, out);
  emit_glyph(written, out);
  advance(out);
}

void put_character(char character, std::string *out) {
  put_cell(cell{character, attribute, 0, 0}, out);
}

// A character that came as UTF-8: one cell, two for a wide one (which must
// not be split at the row's end), none for a mark that combines with the last.
void put_unicode(uint32_t code_point, std::string *out) {
  int cells_taken = unicode_cell_width(code_point);
  if (cells_taken == 0) {
    if (cursor_x > 0 && cell_at(cursor_x - 1, cursor_y).mark == 0) {
      cell_at(cursor_x - 1, cursor_y).mark = code_point;
      emit_unicode(code_point, out);
    }
    return;
  }
  if (cells_taken == 2 && cursor_x == width - 1) {
    put_character('?', out);
    return;
  }
  int byte = cp850_from_unicode(code_point);
  char character = byte > 0 ? (char)byte : '?';
  split_wide_character(cursor_x, cursor_y);
  if (cells_taken == 2) split_wide_character(cursor_x + 1, cursor_y);
  cell_at(cursor_x, cursor_y) = cell{character, attribute, code_point, 0};
  emit_colour(attribute, out);
  emit_unicode(code_point, out);
  if (cells_taken == 2) {
    cursor_x++;
    cell_at(cursor_x, cursor_y) = cell{' ', attribute, wide_right_half, 0};
  }
  advance(out);
}

void put_control(char control, std::string *out) {
  switch (control) {
    case '\n':
      line_feed(out);
      break;
    case '\r':
      cursor_x = 0;
      *out += '\r';
      break;
    case '\b':
      if (cursor_x > 0) {
        cursor_x--;
        *out += '\b';
      }
      break;
    case '\a':
      *out += '\a';
      break;
    case '\t':
      do {
        put_character(' ', out);
      } while (cursor_x % 8 != 0 && cursor_x < width - 1);
      break;
    default:
      put_character(control, out);
      break;
  }
}

// ---------------------------------------------------------------- redrawing cells

// Where the blanks of one colour that run to the end of the row begin, or
// width when the last cell is no blank.
int blank_tail_start(int y) {
  const cell &last = cell_at(width - 1, y);
  if (!is_blank(last)) return width;
  int x = width - 1;
  while (x > 0 && is_blank(cell_at(x - 1, y)) && cell_at(x - 1, y).attribute == last.attribute) {
    x--;
  }
  return x;
}

void redraw_row(int y, int from_x, int to_x, std::string *out) {
  // The right half of a wide character is drawn with its left half.
  if (from_x > 0 && cell_at(from_x, y).unicode == wide_right_half) from_x--;
  emit_goto(from_x, y, out);
  int tail = to_x == width ? blank_tail_start(y) : width;
  int x = from_x;
  for (; x < to_x && x < tail; x++) {
    emit_colour(cell_at(x, y).attribute, out);
    emit_glyph(cell_at(x, y), out);
  }
  if (x < to_x) {
    emit_colour(cell_at(x, y).attribute, out);
    *out += "\x1b[K";  // erase to the end of the row in that colour
  }
}

void redraw(size_t first, size_t count, std::string *out) {
  placed = true;
  if (!terminal || count == 0) return;
  emit_start(out);
  size_t end = first + count;
  for (size_t index = first; index < end;) {
    int y = (int)(index / (size_t)width);
    int x = (int)(index % (size_t)width);
    size_t row_end = (size_t)(y + 1) * (size_t)width;
    int to_x = end < row_end ? (int)(end - (size_t)y * (size_t)width) : width;
    redraw_row(y, x, to_x, out);
    index = (size_t)y * (size_t)width + (size_t)to_x;
  }
  emit_goto(cursor_x, cursor_y, out);
}

// The cells from x, y on that a fill of count reaches; 0 outside the buffer.
size_t fill_range(int x, int y, size_t count, size_t *first) {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  *first = (size_t)y * (size_t)width + (size_t)x;
  size_t room = cell_count() - *first;
  return count < room ? count : room;
}

int ansi_colour(int console_colour) {
  // The console counts blue, green, red from the low bit; ANSI red, green, blue.
  return ((console_colour & 1) << 2) | (console_colour & 2) | ((console_colour & 4) >> 2);
}

}  // namespace

// ---------------------------------------------------------------- set-up

void screen_reset(int new_width, int new_height, int on_terminal) {
  width = new_width > 0 ? new_width : 80;
  height = new_height > 0 ? new_height : 25;
  cells.reset(new cell[cell_count()]);
  std::fill(cells.get(), cells.get() + cell_count(), cell{' ', default_attribute, 0, 0});
  cursor_x = cursor_y = 0;
  attribute = shown_attribute = default_attribute;
  wrap = 1;
  cursor_size = initial_cursor_size;
  cursor_visible = 1;
  terminal = on_terminal;
  placed = false;
  autowrap_off = false;
  ready = true;
}

void screen_ensure(void) {
  if (ready) return;
  winsize size = {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 &&
      size.ws_row > 0) {
    screen_reset(size.ws_col, size.ws_row, 1);
  } else {
    screen_reset(80, 25, isatty(STDOUT_FILENO));
  }
}

void screen_lock(void) {
  model_mutex.lock();
}
void screen_unlock(void) {
  model_mutex.unlock();
}

// ---------------------------------------------------------------- operations

void screen_write(const char *text, size_t length, std::string *out) {
  if (length > 0) emit_start(out);
  const unsigned char *bytes = (const unsigned char *)text;
  for (size_t i = 0; i < length;) {
    uint32_t code_point = 0;
    size_t used = bytes[i] >= 0x80 ? utf8_passing_length(bytes + i, length - i, &code_point) : 0;
    if (used > 0) {
      put_unicode(code_point, out);
      i += used;
      continue;
    }
    if (bytes[i] < 0x20) {
      put_control((char)bytes[i], out);
    } else {
      put_character((char)bytes[i], out);
    }
    i++;
  }
}

size_t screen_fill_character(int x, int y, size_t count, char character, std::string *out) {
  size_t first = 0;
  size_t done = fill_range(x, y, count, &first);
  if (done > 0) {
    split_wide_character(x, y);
    size_t last = first + done - 1;
    split_wide_character((int)(last % (size_t)width), (int)(last / (size_t)width));
  }
  for (size_t i = first; i < first + done; i++)
    cells[i] = cell{character, cells[i].attribute, 0, 0};
  redraw(first, done, out);
  return done;
}

size_t screen_fill_attribute(int x, int y, size_t count, WORD fill, std::string *out) {
  size_t first = 0;
  size_t done = fill_range(x, y, count, &first);
  for (size_t i = first; i < first + done; i++) cells[i].attribute = fill;
  redraw(first, done, out);
  return done;
}

void screen_set_attribute(WORD new_attribute) {
  attribute = new_attribute;
}

int screen_set_cursor(int x, int y, std::string *out) {
  if (x < 0 || y < 0 || x >= width || y >= height) return -1;
  cursor_x = x;
  cursor_y = y;
  placed = true;
  emit_start(out);
  emit_goto(x, y, out);
  return 0;
}

void screen_set_wrap(int on) {
  wrap = on ? 1 : 0;
}

// Only a change goes to the terminal: an entry field that puts back the
// shape it found leaves the terminal's own cursor as it is.
void screen_set_cursor_shape(DWORD size, int visible, std::string *out) {
  bool new_shape = size != cursor_size;
  bool new_visibility = (visible ? 1 : 0) != cursor_visible;
  cursor_size = size;
  cursor_visible = visible ? 1 : 0;
  if (!terminal) return;
  emit_start(out);
  if (new_shape) emit_cursor_shape(out);
  if (new_visibility) *out += visible ? "\x1b[?25h" : "\x1b[?25l";
}

int screen_cursor_shape_shown(void) {
  return terminal && cursor_size != initial_cursor_size;
}

// The whole screen again, on a terminal whose state is not known: after a
// stop (the restore put colours, wrap and cursor back) or a new window size.
void screen_redraw(std::string *out) {
  if (!terminal) return;
  autowrap_off = false;
  emit_start(out);
  shown_attribute = unknown_attribute;
  redraw(0, cell_count(), out);
  if (cursor_size != initial_cursor_size) emit_cursor_shape(out);
  if (!cursor_visible) *out += "\x1b[?25l";
}

void screen_follow_terminal(std::string *out) {
  int happened = terminal_take_events();
  if (happened == 0 || !terminal) return;
  winsize size = {};
  if ((happened & terminal_resized) != 0 && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 &&
      size.ws_col > 0 && size.ws_row > 0 && (size.ws_col != width || size.ws_row != height)) {
    screen_resize(size.ws_col, size.ws_row);
  }
  if ((happened & terminal_continued) != 0) {
    // The stop put the terminal's own colours, wrap and cursor back.
    shown_attribute = default_attribute;
    autowrap_off = false;
    if (!placed && cursor_size != initial_cursor_size) emit_cursor_shape(out);
    if (!placed && !cursor_visible) *out += "\x1b[?25l";
  }
  if (placed) screen_redraw(out);
}

void screen_resize(int new_width, int new_height) {
  if (new_width <= 0 || new_height <= 0) return;
  size_t new_count = (size_t)new_width * (size_t)new_height;
  std::unique_ptr<cell[]> resized(new cell[new_count]);
  std::fill(resized.get(), resized.get() + new_count, cell{' ', attribute, 0, 0});
  for (int y = 0; y < height && y < new_height; y++) {
    for (int x = 0; x < width && x < new_width; x++) {
      resized[(size_t)y * (size_t)new_width + (size_t)x] = cell_at(x, y);
    }
  }
  cells = std::move(resized);
  width = new_width;
  height = new_height;
  // A wide character cut in two by the new edge is no character any more.
  for (int y = 0; y < height; y++) {
    cell &last = cell_at(width - 1, y);
    if (last.unicode != 0 && last.unicode != wide_right_half &&
        unicode_cell_width(last.unicode) == 2) {
      last = cell{'?', last.attribute, 0, 0};
    }
  }
  if (cursor_x >= width) cursor_x = width - 1;
  if (cursor_y >= height) cursor_y = height - 1;
}

// ---------------------------------------------------------------- reading back

int screen_width(void) {
  return width;
}
int screen_height(void) {
  return height;
}
int screen_cursor_x(void) {
  return cursor_x;
}
int screen_cursor_y(void) {
  return cursor_y;
}
WORD screen_attribute(void) {
  return attribute;
}
int screen_is_terminal(void) {
  return terminal;
}
DWORD screen_cursor_size(void) {
  return cursor_size;
}
int screen_cursor_visible(void) {
  return cursor_visible;
}

char screen_character_at(int x, int y) {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  return cell_at(x, y).character;
}

WORD screen_attribute_at(int x, int y) {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  return cell_at(x, y).attribute;
}

std::string screen_colour_sequence(WORD colour) {
  if ((colour & 0xFF) == default_attribute) return "\x1b[0m";
  int foreground = colour & 0x0F;
  int background = (colour >> 4) & 0x0F;
  char text[32];
  snprintf(text, sizeof text, "\x1b[0;%d;%dm", (foreground & 8 ? 90 : 30) + ansi_colour(foreground),
           (background & 8 ? 100 : 40) + ansi_colour(background));
  return text;
}

#include "cvtool/cv_list_arg.h"

#include <cstring>

#include "cvtool/data_file_line.h"

JobCvList command_line_cvs;

namespace {
const char FORM_REASON[] = "eine CV-Nummer sind Ziffern, f\x81r die alternative Bank mit a (7, 7a)";
const char VALUE_REASON[] = "der Wert ist eine Dezimalzahl von 0 bis 255";

// The CVs taken so far, so that each is taken once.
bool taken[2][257];

int refuse(CvListError *error, const std::string &part, const char *reason) {
  error->part = part;
  error->reason = reason;
  return -1;
}

std::string trimmed(const std::string &text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Digits, then an 'a' or 'A' for the alternative bank: the form of a number
// on the command line, where a data file would skip any text before it.
bool is_cv_form(const std::string &text) {
  size_t digits = strspn(text.c_str(), "0123456789");
  if (digits == 0) return false;
  return digits == text.size() || (digits + 1 == text.size() && (text.back() | 0x20) == 'a');
}

// One CV number of entry; its number and bank as a data file line reads them.
int take_cv_name(const std::string &text, const std::string &entry, DataLine *cv,
                 CvListError *error) {
  std::string name = trimmed(text);
  int verdict = parse_cv_name(name.c_str(), name.c_str() + name.size(), cv);
  if (verdict != DATA_LINE_CV) return refuse(error, entry, data_line_reason(verdict));
  if (!is_cv_form(name)) return refuse(error, entry, FORM_REASON);
  return 0;
}

void add_cv(JobCvList *list, int number, int bank, int value) {
  if (taken[bank][number]) return;
  taken[bank][number] = true;
  list->cvs[list->count++] = JobCv{number, bank, value};
}

// "7", "7a", "1-256" or "1a-256a".
int take_range(const std::string &entry, JobCvList *list, CvListError *error) {
  size_t dash = entry.find('-');
  DataLine first, last;
  if (take_cv_name(entry.substr(0, dash), entry, &first, error) != 0) return -1;
  if (dash == std::string::npos) {
    last = first;
  } else if (take_cv_name(entry.substr(dash + 1), entry, &last, error) != 0) {
    return -1;
  }
  if (first.bank != last.bank) return refuse(error, entry, "Anfang und Ende in zwei B\x84nken");
  if (first.number > last.number)
    return refuse(error, entry,
                  "Anfang gr\x94\xe1"
                  "er als Ende");
  for (int number = first.number; number <= last.number; number++)
    add_cv(list, number, first.bank, 0);
  return 0;
}

// "7a=12": read as a data file line reads it, in the command line's form.
int take_value(const std::string &entry, JobCvList *list, CvListError *error) {
  DataLine found;
  int verdict = parse_data_file_line(entry.c_str(), &found);
  if (verdict != DATA_LINE_CV) return refuse(error, entry, data_line_reason(verdict));
  size_t equals = entry.find('=');
  if (!is_cv_form(trimmed(entry.substr(0, equals)))) return refuse(error, entry, FORM_REASON);
  std::string value = trimmed(entry.substr(equals + 1));
  if (strspn(value.c_str(), "0123456789") != value.size()) {
    return refuse(error, entry, VALUE_REASON);
  }
  // Two values for one CV are a slip of the pen: which one was meant?
  if (taken[found.bank][found.number]) return refuse(error, entry, "CV zweimal genannt");
  add_cv(list, found.number, found.bank, found.value);
  return 0;
}

// Takes each comma-separated entry of text with take.
int parse_entries(const char *text, JobCvList *list, CvListError *error,
                  int (*take)(const std::string &, JobCvList *, CvListError *)) {
  memset(list, 0, sizeof *list);
  memset(taken, 0, sizeof taken);
  std::string all = text;
  if (trimmed(all).empty()) return refuse(error, all, "keine CV genannt");
  size_t start = 0;
  while (true) {
    size_t comma = all.find(',', start);
    std::string entry = trimmed(all.substr(start, comma - start));
    if (entry.empty())
      return refuse(error, all, "leerer Eintrag (Komma am Anfang, am Ende oder doppelt)");
    if (take(entry, list, error) != 0) return -1;
    if (comma == std::string::npos) return 0;
    start = comma + 1;
  }
}
}  // namespace

int cv_list_parse(const char *text, JobCvList *list, CvListError *error) {
  return parse_entries(text, list, error, take_range);
}

int cv_values_parse(const char *text, JobCvList *list, CvListError *error) {
  return parse_entries(text, list, error, take_value);
}

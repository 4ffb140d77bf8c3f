// Reading VELDRUN_INJECT. The grammar is strict: a rule with a typo must stop
// the run, not silently inject nothing.
#include "inject_rule.h"

#include <cstring>

// Reads a decimal number of at most five digits from *text, advancing it.
static bool readNumber(const char** text, uint32_t* value) {
  const char* digits = *text;
  uint32_t number = 0;
  int count = 0;
  while (*digits >= '0' && *digits <= '9') {
    if (++count > 5) return false;
    number = number * 10 + static_cast<uint32_t>(*digits - '0');
    ++digits;
  }
  if (count == 0) return false;
  *text = digits;
  *value = number;
  return true;
}

// Reads the order that ends the rule.
static bool readOrder(const char* text, uint32_t* order) {
  return readNumber(&text, order) && *text == '\0' && *order >= 1 && *order <= INJECT_MAX_ORDER;
}

static bool startsWith(const char* text, const char* prefix, const char** rest) {
  const size_t length = std::strlen(prefix);
  if (std::strncmp(text, prefix, length) != 0) return false;
  *rest = text + length;
  return true;
}

static bool parseWrongElement(const char* text, InjectRule* rule) {
  if (!readNumber(&text, &rule->order) || rule->order < 1 || rule->order > INJECT_MAX_ORDER) return false;
  if (*text == '\0') {
    rule->row = rule->order - 1;
    rule->column = rule->order - 1;
    return true;
  }
  if (*text++ != ':' || !readNumber(&text, &rule->row) || *text++ != ',' || !readNumber(&text, &rule->column)) {
    return false;
  }
  return *text == '\0' && rule->row < rule->order && rule->column < rule->order;
}

static bool parseAllocFail(const char* text, InjectRule* rule) {
  const char* matrices = "ABC";
  const char* found = *text != '\0' ? std::strchr(matrices, *text) : nullptr;
  if (found == nullptr || text[1] != ':') return false;
  rule->matrix = static_cast<uint32_t>(found - matrices);
  return readOrder(text + 2, &rule->order);
}

bool parseInjectRule(const char* text, InjectRule* rule) {
  *rule = InjectRule{InjectKind::None, 0, 0, 0, 0};
  if (text == nullptr || *text == '\0') return true;
  const char* rest = nullptr;
  if (startsWith(text, "wrong-element:", &rest)) {
    rule->kind = InjectKind::WrongElement;
    return parseWrongElement(rest, rule);
  }
  if (startsWith(text, "dgemm-alpha:", &rest)) {
    rule->kind = InjectKind::DgemmAlpha;
    return readOrder(rest, &rule->order);
  }
  if (startsWith(text, "alloc-fail:", &rest)) {
    rule->kind = InjectKind::AllocFail;
    return parseAllocFail(rest, rule);
  }
  if (startsWith(text, "sync-fail:", &rest)) {
    rule->kind = InjectKind::SyncFail;
    return readOrder(rest, &rule->order);
  }
  return false;
}

// The fault a preloaded injection library injects, read from the
// VELDRUN_INJECT environment variable.
#pragma once

#include <cstdint>

enum class InjectKind {
  None,          // VELDRUN_INJECT unset or empty: every call passes through
  WrongElement,  // after the copy back at order, element (row, column) of the product is off by one
  DgemmAlpha,    // the DGEMM at order runs with alpha 1 + 2^-20, so every element is wrong
  AllocFail,     // the device allocation of matrix A, B or C at order fails
  SyncFail,      // the synchronisation after the fills at order fails
};

struct InjectRule {
  InjectKind kind;
  uint32_t order;   // matrix order at which the fault strikes
  uint32_t row;     // WrongElement: j of the location the check reports
  uint32_t column;  // WrongElement: k of the location the check reports
  uint32_t matrix;  // AllocFail: 0 for A, 1 for B, 2 for C, in allocation order
};

constexpr uint32_t INJECT_MAX_ORDER = 65535;  // the largest order Veldrun can reach

// The accepted forms, for the message on a rule that does not parse.
constexpr const char* INJECT_RULE_FORMS =
    "wrong-element:ORDER[:J,K] | dgemm-alpha:ORDER | alloc-fail:A|B|C:ORDER | sync-fail:ORDER";

// Reads text (nullptr or empty: no fault) into *rule. ORDER, J and K are
// decimal, without sign; ORDER is 1 to INJECT_MAX_ORDER and J, K are below
// ORDER. wrong-element without a location alters the last element the check
// reaches, (ORDER - 1, ORDER - 1). Returns false, leaving *rule unspecified,
// when text is none of the forms.
bool parseInjectRule(const char* text, InjectRule* rule);

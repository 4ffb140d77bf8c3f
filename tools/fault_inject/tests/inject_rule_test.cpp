// Reading VELDRUN_INJECT: every form, its defaults and its limits, and the
// texts that must be refused rather than read as no fault.
#include <gtest/gtest.h>

#include <string>

#include "inject_rule.h"

namespace {

struct ReadCase {
  const char* text;
  InjectKind kind;
  uint32_t order;
  uint32_t row;
  uint32_t column;
  uint32_t matrix;
};

TEST(InjectRule, ReadsEveryForm) {
  const ReadCase cases[] = {
      {"", InjectKind::None, 0, 0, 0, 0},
      {"wrong-element:256:5,7", InjectKind::WrongElement, 256, 5, 7, 0},
      {"wrong-element:384", InjectKind::WrongElement, 384, 383, 383, 0},  // the last element checked
      {"wrong-element:1:0,0", InjectKind::WrongElement, 1, 0, 0, 0},
      {"wrong-element:65535:65534,0", InjectKind::WrongElement, 65535, 65534, 0, 0},
      {"dgemm-alpha:640", InjectKind::DgemmAlpha, 640, 0, 0, 0},
      {"alloc-fail:A:128", InjectKind::AllocFail, 128, 0, 0, 0},
      {"alloc-fail:B:640", InjectKind::AllocFail, 640, 0, 0, 1},
      {"alloc-fail:C:65535", InjectKind::AllocFail, 65535, 0, 0, 2},
      {"sync-fail:00384", InjectKind::SyncFail, 384, 0, 0, 0},
  };
  for (const ReadCase& c : cases) {
    InjectRule rule{};
    ASSERT_TRUE(parseInjectRule(c.text, &rule)) << c.text;
    EXPECT_EQ(rule.kind, c.kind) << c.text;
    EXPECT_EQ(rule.order, c.order) << c.text;
    EXPECT_EQ(rule.row, c.row) << c.text;
    EXPECT_EQ(rule.column, c.column) << c.text;
    EXPECT_EQ(rule.matrix, c.matrix) << c.text;
  }
}

TEST(InjectRule, UnsetIsNoFault) {
  InjectRule rule{InjectKind::SyncFail, 1, 1, 1, 1};
  ASSERT_TRUE(parseInjectRule(nullptr, &rule));
  EXPECT_EQ(rule.kind, InjectKind::None);
}

TEST(InjectRule, RefusesTextsThatAreNoForm) {
  const char* const refused[] = {
      "sync-fail",                       // no order
      "sync-fail:",                      // empty order
      "sync-fail:0",                     // no such order
      "sync-fail:65536",                 // beyond the largest order
      "sync-fail:123456",                // too many digits
      "sync-fail:+384",                  // signed
      "sync-fail:-384",                  // signed
      "sync-fail: 384",                  // blank
      "sync-fail:384 ",                  // trailing blank
      "sync-fail:384,",                  // trailing text
      "SYNC-FAIL:384",                   // the forms are lower case
      "sync:384",                        // unknown kind
      "dgemm-alpha:1e3",                 // not decimal digits only
      "alloc-fail:384",                  // no matrix
      "alloc-fail:D:384",                // no such matrix
      "alloc-fail:b:384",                // matrices are upper case
      "alloc-fail:AB:384",               // one matrix
      "alloc-fail:B384",                 // no separator
      "wrong-element:256:5",             // half a location
      "wrong-element:256:5,",            // half a location
      "wrong-element:256:,7",            // half a location
      "wrong-element:256:5,7,9",         // too many coordinates
      "wrong-element:256:256,0",         // row outside the matrix
      "wrong-element:256:0,256",         // column outside the matrix
      "wrong-element:0",                 // no such order
      "wrong-element:256;5,7",           // wrong separator
      "sync-fail:384,alloc-fail:B:512",  // one rule at a time
  };
  for (const char* text : refused) {
    InjectRule rule{};
    EXPECT_FALSE(parseInjectRule(text, &rule)) << text;
  }
}

}  // namespace

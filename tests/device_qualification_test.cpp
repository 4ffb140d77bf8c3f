// Which compute capabilities qualify for the test.
#include <gtest/gtest.h>

#include "driver/device_selection.h"

namespace {

TEST(DeviceQualification, AdmitsComputeCapability13AndAbove) {
  struct Row {
    int32_t major;
    int32_t minor;
    bool qualifies;
  };
  const Row rows[] = {
      {1, 0, false},       {1, 1, false},    {1, 2, false},    {1, 3, true},     {2, 0, true},  {2, 1, true},
      {3, 5, true},        {7, 5, true},     {9, 0, true},     {12, 0, true},    {0, 5, false}, {-1, 3, false},
      {9999, 9999, false}, {9999, 0, false}, {1, 9999, false}, {2, 9999, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(deviceQualifies(row.major, row.minor), row.qualifies) << row.major << "." << row.minor;
  }
}

}  // namespace
